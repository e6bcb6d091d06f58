#include "server/runhost.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace velto {

namespace {

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

bool SystemdRunning() { return FileExists("/run/systemd/system"); }

// Runs a command without a shell and waits for it; false when it could not
// run or failed.
bool RunCommand(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string UnitName(const std::string& serviceName) {
  std::string name = serviceName;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name + ".service";
}

// One word of ExecStart: systemd splits at blanks, undoes quotes and
// backslashes, and expands "%" specifiers and "$" variables.
std::string UnitWord(const std::string& word) {
  std::string text;
  bool quote = word.empty();
  for (const char c : word) {
    if (c == '%' || c == '$') text.push_back(c);
    if (c == '"' || c == '\\') text.push_back('\\');
    if (c == ' ' || c == '\t' || c == '\'' || c == ';') quote = true;
    text.push_back(c);
  }
  return quote ? "\"" + text + "\"" : text;
}

}  // namespace

std::string CRunhost::Command() const {
  std::string command = UnitWord(appPath_ + "velto") + " SERVICE";
  for (const auto& option : commandOptions_) command += " " + UnitWord(option);
  return command;
}

CRunhost::CRunhost(platform::EventLoop& loop, std::string appPath, std::string unitFolder)
    : loop_(loop), appPath_(std::move(appPath)), unitFolder_(std::move(unitFolder)) {
  if (!unitFolder_.empty() && unitFolder_.back() != '/') unitFolder_.push_back('/');
}

CRunhost::~CRunhost() {
  UnloadSupportWindow();
  // Only the service's own process may ask the service manager to stop it:
  // a second copy, or a failed -INSTALL, must leave a running service alone.
  if (IsRunningAsService()) ServiceStop();
}

std::string CRunhost::DefaultUnitFolder() {
  const char* redirected = std::getenv("VELTO_SYSTEMD_UNIT_DIR");
  if (redirected != nullptr && *redirected != '\0') return redirected;
  return "/etc/systemd/system";
}

void CRunhost::SetServiceParams(const std::string& vsServiceName, const std::string& vsDisplayName) {
  serviceName_ = vsServiceName;
  displayName_ = vsDisplayName;
}

std::string CRunhost::UnitPath() const { return unitFolder_ + UnitName(serviceName_); }

bool CRunhost::ServiceInstall() {
  if (serviceName_.empty() || displayName_.empty()) return false;
  const std::string path = UnitPath();
  if (FileExists(path)) return false;
  // Manual start: the unit is written but not enabled.
  std::ofstream unit(path, std::ios::binary | std::ios::trunc);
  if (!unit) return false;
  unit << "[Unit]\n"
       << "Description=" << displayName_ << " FTP server\n"
       << "After=network.target\n\n"
       << "[Service]\n"
       << "Type=simple\n"
       << "ExecStart=" << Command() << "\n"
       // "systemctl reload velto" reads the accounts again.
       << "ExecReload=/bin/kill -HUP $MAINPID\n"
       << "WorkingDirectory=" << appPath_ << "\n"
       << "KillSignal=SIGTERM\n"
       << "Restart=no\n\n"
       << "[Install]\n"
       << "WantedBy=multi-user.target\n";
  unit.close();
  if (!unit) {
    ::unlink(path.c_str());
    return false;
  }
  if (SystemdRunning() && std::getenv("VELTO_SYSTEMD_UNIT_DIR") == nullptr) {
    RunCommand({"systemctl", "daemon-reload"});
  }
  return true;
}

bool CRunhost::ServiceUninstall() {
  if (serviceName_.empty()) return false;
  if (::unlink(UnitPath().c_str()) != 0) return false;
  if (SystemdRunning() && std::getenv("VELTO_SYSTEMD_UNIT_DIR") == nullptr) {
    RunCommand({"systemctl", "daemon-reload"});
  }
  serviceName_.clear();
  displayName_.clear();
  return true;
}

bool CRunhost::Run(const std::function<void(const std::string&)>& complain) {
  if (CommandParams != "SERVICE") {
    if (complain) {
      complain(serviceName_ +
               " is installed to run as a service, and must be start from the Service Controler within the "
               "Control Panel.");
    }
    return false;
  }
  if (supportWindow_ == 0) {
    supportWindow_ = loop_.CreateTarget([this](const platform::Message& m) { OnSupportMessage(m); });
    loop_.SetVisible(supportWindow_, false);
  }
  return false;
}

void CRunhost::OnSupportMessage(const platform::Message& message) {
  if (message.number != kRunhostStopMessage) return;
  if (message.wParam != kRunhostStop && message.wParam != kRunhostShutdown) return;
  if (onStop_) onStop_();
}

void CRunhost::UnloadSupportWindow() {
  if (supportWindow_ != 0) {
    loop_.DestroyTarget(supportWindow_);
    supportWindow_ = 0;
  }
}

void CRunhost::ServiceStop() {
  // Only where systemd runs and the unit is installed; harmless when the
  // service is not running.
  if (serviceName_.empty() || !SystemdRunning() || !FileExists(UnitPath())) return;
  RunCommand({"systemctl", "stop", "--no-block", UnitName(serviceName_)});
}

}  // namespace velto
