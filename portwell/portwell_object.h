// CPortwellObject: the component's public class behind CPortwell. It owns the
// socket registry, forwards to it and to the sockets, and turns internal
// failures of Activate, SendData, CloseSock and the interval setters into
// PortwellError.
#pragma once

#include "portwell/portwell.h"
#include "portwell/tls_credentials.h"
#include "portwell/winsocks.h"

#include <memory>

namespace portwell {

class CPortwellObject final : public CPortwell {
 public:
  CPortwellObject();
  ~CPortwellObject() override;
  CPortwellObject(const CPortwellObject&) = delete;
  CPortwellObject& operator=(const CPortwellObject&) = delete;

  std::int32_t LastSockErr() override;
  std::int32_t hwnd() const override;
  std::int32_t BaseWndMsg() const override { return kBaseWndMsg; }
  PortwellSocketInfo ItemByKey(const std::string& SocketHandle) const override;
  PortwellSocketInfo ItemByIndex(std::int32_t Index) const override;
  bool ItemExists(const std::string& SocketHandle) const override;
  void NotifyOnEmptySendQue(const std::string& SocketHandle, const std::string& EventID,
                            std::int32_t BytesToSend) override;
  std::int32_t ChunkSize() const override;
  void SetChunkSize(std::int32_t Value) override;
  bool IsActive() const override { return isActive_; }
  bool Activate(bool ActivationStatus) override;
  void SendData(std::int32_t SocketHandle, const PortwellData& Data, const std::string& RemoteHostUDP,
                std::int32_t RemotePortUDP) override;
  std::int32_t CloseSock(const std::string& SocketHandle, bool NoLinger) override;
  std::int32_t Connect(const std::string& Host, std::int32_t Port, PWL_PROTOCOL StreamType,
                       std::int32_t AdapterNumber) override;
  std::int32_t AddListener(std::int32_t PortToListenOn, PWL_PROTOCOL Protocol, std::int32_t AdapterNumber,
                           std::int32_t BackLog) override;
  std::int32_t RequestsReceived() const override;
  std::int32_t RequestsProcessed() const override;
  std::int32_t RequestsToSendReceived() const override;
  std::int32_t RequestsToSendProcessed() const override;
  std::int32_t NumberOfConnections() const override;
  std::vector<std::string> Aliases() const override;
  std::string LocalHostName() const override;
  std::vector<std::string> LocalHostIP() const override;
  std::string LocalHostIP(std::int32_t Index) const override;
  std::int32_t LocalPort(std::int32_t SocketHandle) const override;
  std::string SocketInfoMaxSockets() const override;
  std::string SocketInfoDescription() const override;
  std::string SocketInfoHighVersion() const override;
  std::string SocketInfoMaxUdpDg() const override;
  std::string SocketInfoSystemStatus() const override;
  std::string SocketInfoVendorInfo() const override;
  std::string SocketInfoVersion() const override;
  bool UseBufferToSend(const std::string& SocketHandle) const override;
  void SetUseBufferToSend(const std::string& SocketHandle, bool Value) override;
  bool UseBufferToReceive(const std::string& SocketHandle) const override;
  void SetUseBufferToReceive(const std::string& SocketHandle, bool Value) override;
  std::string RemoteHostIP(const std::string& SocketHandle) const override;
  std::string RemoteHostName(const std::string& SocketHandle) const override;
  std::int32_t RemotePort(const std::string& SocketHandle) const override;
  std::int16_t ProcessingIntervalReceive() const override;
  void SetProcessingIntervalReceive(std::int16_t Value) override;
  std::int16_t ProcessingIntervalToSend() const override;
  void SetProcessingIntervalToSend(std::int16_t Value) override;

  void SetEventSink(IPortwellEvents* Sink) override { sink_ = Sink; }
  std::int32_t SendFile(std::int32_t SocketHandle, const std::string& FilePath, std::int64_t Offset,
                        std::int64_t Length) override;
  std::int32_t SendFileDescriptor(std::int32_t SocketHandle, int FileDescriptor, std::int64_t Offset,
                                  std::int64_t Length) override;
  std::int32_t ConnectAsync(const std::string& Host, std::int32_t Port, PWL_PROTOCOL StreamType,
                            std::int32_t AdapterNumber, std::int32_t TimeoutMs) override;
  void SetLingerTime(const std::string& SocketHandle, std::int32_t Milliseconds) override;
  void SetNoUnicodeConversionOnRecv(const std::string& SocketHandle, bool Value) override;
  std::int32_t SetSockOption(const std::string& SocketHandle, PWL_SOCK_OPTION SockOption, bool ActiveStatus) override;
  void SetReceivePaused(const std::string& SocketHandle, bool Paused) override;
  std::int32_t SetSockOptionValue(const std::string& SocketHandle, PWL_SOCK_OPTION SockOption,
                                  std::int32_t Value) override;
  std::int64_t ReceivedBytesWaiting(const std::string& SocketHandle) const override;
  std::int64_t SentBytesWaiting(const std::string& SocketHandle) const override;
  std::int64_t QueSendBytes(const std::string& SocketHandle) const override;
  std::int32_t QueReceiveCount(const std::string& SocketHandle) const override;
  std::string SetTlsCredentials(const std::string& CertificateFile, const std::string& KeyFile) override;
  void ClearTlsCredentials() override;
  bool TlsAvailable() const override;
  std::int32_t StartTls(const std::string& SocketHandle, std::int32_t ResumeOf, const PortwellData& ClearText,
                        std::int32_t TimeoutMs) override;
  std::int32_t AddListenerOn(std::int32_t PortToListenOn, const std::string& Address, std::int32_t BackLog) override;
  std::vector<std::string> LocalHostIP6() const override;

 private:
  // Removes every socket without events; `deliver` first offers the queued
  // blocks (a stop the client asked for, not the object's destruction).
  bool Stop(bool deliver);
  // The registry; std::runtime_error when the object has none.
  CWinsocks& Registry() const;
  // A registered socket; std::out_of_range when absent.
  CWinsock& Socket(const std::string& key) const;
  // Queues an open file's range on a stream socket and starts sending it.
  std::int32_t QueueFileRange(std::int32_t SocketHandle, platform::UniqueFd file, std::int64_t Offset,
                              std::int64_t Length);

  std::unique_ptr<CWinsocks> mobjWinsocks;
  IPortwellEvents* sink_ = nullptr;
  bool isActive_ = false;
  // The credentials in force (none: TLS is not available).
  TlsContext tlsContext_;
};

}  // namespace portwell
