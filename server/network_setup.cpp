// Where the server can be reached from: the IPv6 listeners beside the IPv4
// ones, the passive port range, and the address PASV announces to clients
// beyond a router (PassiveAddress, which may be a name).
#include "ftp/ftp_sessions.h"
#include "platform/winsock_errors.h"
#include "server/main_window.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <syslog.h>

#include <cstdio>
#include <memory>

namespace velto {

namespace {

std::string Trimmed(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && blank(text[first])) ++first;
  return text.substr(first);
}

bool IsIPv4Literal(const std::string& text) {
  in_addr address{};
  return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// A name's first IPv4 address (PASV can announce no other kind), or the
// resolver's reason in `why`. Runs on the worker: it may wait on the
// network.
std::string ResolveIPv4(const std::string& name, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (error != 0) {
    why = error == EAI_SYSTEM ? std::string("system error") : std::string(::gai_strerror(error));
    return {};
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) return text;
  }
  why = "it has no IPv4 address";
  return {};
}

}  // namespace

std::int32_t FMain::StartListener6(std::int32_t port, bool implicitTls) {
  const std::string what = implicitTls ? "implicit-TLS listener" : "listener";
  const std::string address = g_.FTPBindAddress6();
  if (address.empty() || !g_.gobjPortwell) return 0;
  CPortwell& pw = *g_.gobjPortwell;
  const std::int32_t handle = pw.AddListenerOn(port, address, 100);
  if (handle == -1) {
    const std::int32_t e = pw.LastSockErr();
    const std::string reason = PortwellCanonicalAddress(address).find(':') == std::string::npos
                                   ? "FTPBindToIPv6 is no IPv6 address"
                                   : "Error# " + std::to_string(e) + ": " + platform::SocketErrorText(e);
    g_.Report(LOG_ERR,
              "no IPv6 " + what + " on port " + std::to_string(port) + ": cannot listen on " +
                  address + " (" + reason + ")",
              e, "ActivateFTP");
    return 0;
  }
  const std::string key = std::to_string(handle);
  pw.SetSockOption(key, PWL_SO_REUSEADDR, true);
  const std::string shown = PortwellCanonicalAddress(address);
  g_.gobjConnectionEntries->pAddConnectionEntry(*g_.lstConnections, handle,
                                                std::to_string(UnsignedPort(pw.LocalPort(handle))), "TCP", shown,
                                                "::", "0", CConnectionEntry::kListening);
  std::fprintf(stderr, "velto: %s on [%s] port %d\n", implicitTls ? "listening for implicit TLS" : "listening",
               shown.c_str(), port);
  return handle;
}

void FMain::ApplyPassivePorts() {
  if (!hostContext_) return;
  std::string problem;
  hostContext_->passivePorts = PassivePorts::FromSettings(g_.gnPassivePortMin, g_.gnPassivePortMax, problem);
  if (!problem.empty()) g_.Report(LOG_WARNING, problem, 0, "Form_Load");
}

void FMain::ResolvePassiveAddress(bool reload) {
  if (!g_.gobjFTPSessions) return;
  const char* context = reload ? "ReloadPassiveAddress" : "Form_Load";
  const std::string text = Trimmed(g_.gsPassiveAddress);
  if (text.empty()) {
    g_.gobjFTPSessions->PassiveAddress.clear();
    return;
  }
  if (IsIPv4Literal(text)) {
    g_.gobjFTPSessions->PassiveAddress = PortwellCanonicalAddress(text);
    return;
  }
  const auto keeps = [this] {
    const std::string& old = g_.gobjFTPSessions->PassiveAddress;
    return old.empty() ? std::string("; PASV announces the address each client reached")
                       : "; PASV announces " + old + " as before";
  };
  if (!PortwellCanonicalAddress(text).empty()) {
    g_.Report(LOG_ERR, "PassiveAddress " + text + " is no IPv4 address (PASV names IPv4 addresses only)" + keeps(),
              0, context);
    return;
  }
  // A name may take the resolver a while: never on the loop. Until the
  // answer comes the sessions announce what they did before.
  struct Answer {
    std::string address;
    std::string why;
  };
  auto answer = std::make_shared<Answer>();
  auto job = [answer, text] {
    answer->address = ResolveIPv4(text, answer->why);
    return !answer->address.empty();
  };
  auto done = [this, answer, text, context, keeps](bool resolved) {
    if (!g_.gobjFTPSessions || g_.gbUnloading) return;
    if (!resolved) {
      g_.Report(LOG_ERR, "cannot resolve PassiveAddress " + text + " (" + answer->why + ")" + keeps(), 0, context);
      return;
    }
    g_.gobjFTPSessions->PassiveAddress = answer->address;
    g_.Report(LOG_INFO, "PASV announces " + answer->address + " (PassiveAddress " + text + ")", 0, context);
  };
  if (g_.worker) {
    g_.worker->Run(std::move(job), std::move(done));
  } else {
    done(job());
  }
}

}  // namespace velto
