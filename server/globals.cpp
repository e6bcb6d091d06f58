#include "server/globals.h"

#include "ftp/ftp_sessions.h"
#include "log/log_lines.h"

#include <syslog.h>

#include <cstdio>

namespace velto {

MGlobal::MGlobal(platform::EventLoop& eventLoop) : loop(eventLoop) {}
MGlobal::~MGlobal() = default;

void MGlobal::Feed(const std::string& line) {
  if (onFeed && gbViewRealTime) onFeed(line);
}

void MGlobal::ConnectionOpened() {
  if (!gbViewRealTime) return;
  if (onConnectionCount) onConnectionCount(true);
}

void MGlobal::ConnectionClosed() {
  if (!gbViewRealTime) return;
  if (onConnectionCount) onConnectionCount(false);
}

void MGlobal::LogError(std::int64_t number, const std::string& description, const std::string& context) {
  if (gobjErrorLog) gobjErrorLog->LogData(ErrorLogLine(std::to_string(number), description, context));
}

void MGlobal::Report(int priority, const std::string& text, std::int64_t number, const std::string& context) {
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  ::syslog(priority, "%s", text.c_str());
  if (priority <= LOG_WARNING) LogError(number, text, context);
}

void MGlobal::SendText(std::int32_t handle, const std::string& text, const char* context) {
  if (!gobjPortwell) return;
  try {
    gobjPortwell->SendData(handle, PortwellData(text));
  } catch (const PortwellError& e) {
    LogError(e.Number, e.Description, context);
  } catch (const std::exception& e) {
    LogError(0, e.what(), context);
  }
}

void MGlobal::CloseSocket(std::int32_t handle, bool linger) {
  if (!gobjPortwell) return;
  try {
    gobjPortwell->CloseSock(std::to_string(handle), !linger);
  } catch (const PortwellError& e) {
    LogError(e.Number, e.Description, "CloseSock");
  } catch (const std::exception& e) {
    LogError(0, e.what(), "CloseSock");
  }
}

std::string MGlobal::ServerAddress() const {
  if (!gobjPortwell) return {};
  return gobjPortwell->LocalHostIP(gnFTPBindToIP < 0 ? 0 : gnFTPBindToIP);
}

std::string MGlobal::FTPBindAddress6() const {
  std::string text = gsFTPBindToIPv6;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
  if (text == "-1") return "::";
  return text;
}

}  // namespace velto
