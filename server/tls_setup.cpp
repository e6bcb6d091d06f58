// FTPS set-up: the credentials the settings name, loaded into the socket
// component at start and again on SIGHUP, and the implicit-TLS listener that
// follows the FTP listener.
#include "config/settings.h"
#include "platform/winsock_errors.h"
#include "server/main_window.h"

#include <syslog.h>

#include <cstdio>

namespace velto {

namespace {

// A relative name is taken from the data folder, where Velto.ini is: the
// service runs from /, a shell from anywhere.
std::string FromDataFolder(const std::string& dataPath, const std::string& name) {
  if (name.empty() || name.front() == '/') return name;
  return dataPath + name;
}

}  // namespace

void FMain::LoadTlsCredentials(bool reload) {
  if (!g_.gobjPortwell || !g_.gobjIni) return;
  CPortwell& pw = *g_.gobjPortwell;
  const char* context = reload ? "ReloadTls" : "Form_Load";
  if (!reload) {
    // The names and the listener's port are read once; SIGHUP reads the
    // files again (a renewal replaces them in place).
    const CIni& ini = *g_.gobjIni;
    g_.gsTLSCertificateFile = FromDataFolder(g_.DataPath(), ReadSettingText(ini, Setting::TLSCertificateFile));
    g_.gsTLSKeyFile = FromDataFolder(g_.DataPath(), ReadSettingText(ini, Setting::TLSKeyFile));
    ReadSetting(ini, Setting::ImplicitTLSPort, g_.gnImplicitTLSPort);
    bool reuse = true;
    ReadSetting(ini, Setting::TLSSessionReuse, reuse);
    if (hostContext_) hostContext_->tlsSessionReuse = reuse;
  }
  const std::string& certificate = g_.gsTLSCertificateFile;
  const std::string& key = g_.gsTLSKeyFile;
  if (certificate.empty() && key.empty()) return;  // plain FTP only
  if (certificate.empty() || key.empty()) {
    if (!reload) {
      g_.Report(LOG_ERR,
                std::string(certificate.empty() ? "TLSKeyFile is set but TLSCertificateFile is not"
                                                : "TLSCertificateFile is set but TLSKeyFile is not") +
                    "; TLS is off",
                0, context);
    }
    return;
  }
  const std::string why = pw.SetTlsCredentials(certificate, key);
  if (why.empty()) {
    g_.Report(LOG_INFO, (reload ? "reloaded the TLS certificate " : "TLS is on with the certificate ") + certificate,
              0, context);
    // Credentials that failed at start may serve now.
    if (reload) StartImplicitListener();
    return;
  }
  g_.Report(LOG_ERR,
            "cannot load the TLS credentials: " + why +
                (pw.TlsAvailable() ? "; the credentials loaded before stay in force" : "; TLS is off"),
            0, context);
}

void FMain::StartImplicitListener() {
  const std::int32_t port = g_.gnImplicitTLSPort;
  if (port == 0 || !g_.gbFTPActive || !g_.gobjPortwell) return;
  if (g_.gnImplicitListenSocket != 0) {
    // Credentials that failed at start may serve the IPv6 one now.
    if (g_.gnImplicitListenSocket6 == 0) g_.gnImplicitListenSocket6 = StartListener6(port, true);
    return;
  }
  CPortwell& pw = *g_.gobjPortwell;
  constexpr const char* kContext = "ActivateFTP";
  const std::string refused = "no implicit-TLS listener on port " + std::to_string(port) + ": ";
  if (port < 1 || port > 65535) {
    g_.Report(LOG_ERR, refused + "ImplicitTLSPort is not between 1 and 65535 (0: none)", 0, kContext);
    return;
  }
  if (!pw.TlsAvailable()) {
    g_.Report(LOG_ERR, refused + "TLS is off", 0, kContext);
    return;
  }
  // Bound as the FTP listener is.
  const std::string bindAddress = g_.gnFTPBindToIP < 0 ? std::string("0.0.0.0") : pw.LocalHostIP(g_.gnFTPBindToIP);
  const std::int32_t handle = pw.AddListener(port, PWL_TCPIP, g_.gnFTPBindToIP, 100);
  if (handle == -1) {
    const std::int32_t e = pw.LastSockErr();
    g_.Report(LOG_ERR,
              refused + "cannot listen on " + bindAddress + " (Error# " + std::to_string(e) + ": " +
                  platform::SocketErrorText(e) + ")",
              e, kContext);
    return;
  }
  g_.gnImplicitListenSocket = handle;
  const std::string key = std::to_string(handle);
  pw.SetSockOption(key, PWL_SO_REUSEADDR, true);
  g_.gobjConnectionEntries->pAddConnectionEntry(
      *g_.lstConnections, handle, std::to_string(UnsignedPort(pw.LocalPort(handle))), "TCP",
      pw.LocalHostIP(g_.gnFTPBindToIP < 0 ? 0 : g_.gnFTPBindToIP), "0.0.0.0", "0", CConnectionEntry::kListening);
  std::fprintf(stderr, "velto: listening for implicit TLS on %s port %d\n", bindAddress.c_str(), port);
  if (g_.gnImplicitListenSocket6 == 0) g_.gnImplicitListenSocket6 = StartListener6(port, true);
}

void FMain::StopImplicitListener() {
  if (!g_.gobjPortwell) return;
  // A listener has nothing to drain: it goes at once (its row with it).
  for (std::int32_t* listener : {&g_.gnImplicitListenSocket, &g_.gnImplicitListenSocket6}) {
    if (*listener == 0) continue;
    const std::int32_t handle = *listener;
    g_.CloseSocket(handle, false);
    *listener = 0;
  }
}

}  // namespace velto
