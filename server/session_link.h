// The socket side of the FTP sessions: each session's host over the socket
// component, and the routes by which the component's events find the
// session that armed them.
//
// A session owns its host; the host owns (closes) the sockets it opened:
// the passive listener, the data connection or the outgoing connection in
// progress. The control connection belongs to the event handlers, which
// close it when the session asks or the client goes.
#pragma once

#include "ftp/session_host.h"
#include "platform/event_loop.h"
#include "portwell/portwell.h"
#include "server/passive_ports.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velto {

class CFTPSession;
class PortwellSessionHost;

// Which host each data-side socket belongs to.
class SessionRoutes {
 public:
  PortwellSessionHost* ByData(std::int32_t handle) const { return Find(data_, handle); }
  // A passive listener, by the handle of the listener that accepted.
  PortwellSessionHost* ByListener(std::int32_t handle) const { return Find(listeners_, handle); }
  PortwellSessionHost* ByConnect(std::int32_t handle) const { return Find(connects_, handle); }

  void SetData(std::int32_t handle, PortwellSessionHost* host) { Set(data_, handle, host); }
  void SetListener(std::int32_t handle, PortwellSessionHost* host) { Set(listeners_, handle, host); }
  void SetConnect(std::int32_t handle, PortwellSessionHost* host) { Set(connects_, handle, host); }

 private:
  using Map = std::unordered_map<std::int32_t, PortwellSessionHost*>;
  static PortwellSessionHost* Find(const Map& map, std::int32_t key) {
    const auto it = map.find(key);
    return it == map.end() ? nullptr : it->second;
  }
  static void Set(Map& map, std::int32_t key, PortwellSessionHost* host) {
    if (host == nullptr) {
      map.erase(key);
    } else {
      map[key] = host;
    }
  }

  Map data_;
  Map listeners_;
  Map connects_;
};

// What every host shares.
struct HostContext {
  CPortwell& portwell;
  platform::EventLoop& loop;
  SessionRoutes& routes;
  // An error-log line (number, description, context).
  std::function<void(std::int64_t, const std::string&, const std::string&)> logError;
  // Closes the control connection (the event handlers own it).
  std::function<void(std::int32_t handle)> closeControl;
  // While a ReplyBatch is open, replies wait in their hosts (those listed).
  int batchDepth = 0;
  std::vector<PortwellSessionHost*> batched;
  // A protected data connection must resume its control connection's TLS
  // session (TLSSessionReuse).
  bool tlsSessionReuse = true;
  // The ports passive listeners take (PassivePortMin..PassivePortMax).
  PassivePorts passivePorts;
};

// How long a TLS handshake may take, on the control or a data connection.
inline constexpr std::int32_t kTlsHandshakeMs = 30000;

// The replies sessions give while one socket event is handled go out in one
// write per control connection when it ends: a small download's 150 and
// 226 leave together. Outside a batch every reply goes at once.
class ReplyBatch {
 public:
  // Nothing is held while there is no context (before the hosts exist).
  explicit ReplyBatch(HostContext* context);
  ~ReplyBatch();
  ReplyBatch(const ReplyBatch&) = delete;
  ReplyBatch& operator=(const ReplyBatch&) = delete;

 private:
  HostContext* context_;
};

class PortwellSessionHost final : public ISessionHost {
 public:
  // Unsent replies above this make the session stop taking commands.
  static constexpr std::int64_t kControlBacklog = 64 * 1024;

  PortwellSessionHost(HostContext& context, std::int32_t controlHandle);
  ~PortwellSessionHost() override;
  PortwellSessionHost(const PortwellSessionHost&) = delete;
  PortwellSessionHost& operator=(const PortwellSessionHost&) = delete;

  void Attach(CFTPSession& session) { session_ = &session; }
  std::int32_t ControlHandle() const { return control_; }
  std::int32_t DataHandle() const { return data_; }

  // ISessionHost.
  void Send(std::string_view text) override;
  bool Backlogged() override;
  void HoldInput(bool hold) override;
  void CloseControl() override;
  int OpenPassive() override;
  void ClosePassive() override;
  bool ConnectData(const std::string& address, int port) override;
  bool SendFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length) override;
  bool SendData(std::string bytes) override;
  void CloseData() override;
  std::int64_t DataBytesTaken() const override;
  bool TlsAvailable() const override;
  void StartControlTls(std::string_view reply) override;
  void SetDataProtection(bool protect) override;
  TimerId StartTimer(std::uint32_t milliseconds, std::function<void()> callback) override;
  void StopTimer(TimerId id) override;

  // Events the handlers route here.
  // A connection arrived on this host's passive port from `peer`; true when
  // it is taken as the data connection.
  bool OfferPassive(std::int32_t handle, const std::string& peer);
  void DataConnected(std::int32_t handle);
  // The handshake of a protected data connection ended.
  void DataTlsEstablished(std::int32_t handle);
  void DataTlsFailed(std::int32_t handle, const std::string& reason);
  void DataReceived(std::int32_t handle, std::string_view bytes);
  void DataPeerClosing(std::int32_t handle, bool nothingQueued);
  void DataError(std::int32_t handle, std::int32_t number);
  void DataTerminated(std::int32_t handle);
  void EmptySendQue(std::int32_t handle, const std::string& id);
  void ControlDrained();
  // Sends the replies held back by a batch.
  void FlushReplies();

  // EmptySendQue ids this host arms.
  static constexpr const char* kDrainId = "CTRL-DRAIN";
  static constexpr const char* kPartId = "DATA-PART";
  static constexpr const char* kDoneId = "DATA-DONE";

 private:
  void PrepareData(std::int32_t handle);
  // The data connection is there: a protected one first gets its
  // handshake, and the session hears of it once that is done. False when
  // the handshake could not even start (the session has heard so).
  bool DataReady(std::int32_t handle);
  bool QueueFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length);
  std::string ClientAddress() const;
  void ArmNextPart();
  void ForgetData();
  void EndData(bool error);
  void SendNow(std::string text);
  // What the session hears of the data connection goes through here: never
  // from inside one of its calls into this host (a send the component
  // completes at once), and always in the order it happened.
  void Deliver(std::function<void(CFTPSession&)> delivery);
  void RunDeliveries();
  std::string Key(std::int32_t handle) const { return std::to_string(handle); }

  HostContext& context_;
  CFTPSession* session_ = nullptr;
  std::int32_t control_ = 0;
  std::int32_t listener_ = 0;
  std::int32_t connect_ = 0;
  std::int32_t data_ = 0;
  bool dataError_ = false;
  bool dataEnded_ = false;     // the session heard of the end
  bool drainArmed_ = false;
  std::int64_t unannounced_ = 0;   // bytes of the running send not yet armed
  std::int64_t sentTotal_ = 0;     // bytes of finished parts
  std::int64_t armedPart_ = 0;
  std::int64_t received_ = 0;      // bytes of the data connection's upload so far
  bool lowWaterSet_ = false;       // the data connection wakes once per receive block
  std::string heldReplies_;        // replies of the running batch
  bool protectData_ = false;       // PROT P: data connections get TLS
  bool dataHandshake_ = false;     // the data connection's handshake runs
  int sendCalls_ = 0;              // inside SendFile / SendData
  std::deque<std::function<void(CFTPSession&)>> deliveries_;
  platform::TargetHandle deliveryTarget_ = 0;
  bool deliveryPosted_ = false;
  std::unordered_map<TimerId, std::function<void()>> timers_;
};

}  // namespace velto
