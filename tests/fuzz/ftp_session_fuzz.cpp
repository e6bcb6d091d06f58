// A logged-on FTP session over a temporary tree: the client's bytes fed in
// fuzz-chosen chunks, interleaved with what the host reports (data
// connections made and lost, sends completed, uploads arriving, timers,
// a backlogged control connection).
//
// The input is a list of records, each an op byte (low four bits: the kind,
// high four: flags) and a payload for some kinds; its first byte picks the
// account and a few options. FTPS's side: whether the host has TLS, the
// policies, sends the host reports complete from inside its call, and (by a
// first record of kind kImplicit) a connection of the implicit listener. Each input runs a fresh session, and the tree
// is rebuilt whenever a session changed it, so an input replays alike.
//
// Whatever the session does to the file system goes through the guard
// below: the confined account touching anything outside its home is a
// failure; the unconfined account is refused anything outside the tree,
// and may write only in the home, so the rest of the machine stays as it is.
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "log/clog.h"
#include "platform/event_loop.h"
#include "users/ftp_users.h"

#include "tests/fuzz/fuzz_support.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;

// ---- the file-system guard ----------------------------------------------------

struct Guard {
  bool active = false;  // only while the session runs
  bool limited = false;
  std::string root;     // the whole temporary tree
  std::string home;     // the account's home: the one place it may change
  std::string logs;     // where the logs are written
};

Guard& TheGuard() {
  static Guard guard;
  return guard;
}

bool Within(const std::string& root, const std::string& path) {
  return !root.empty() && (path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                                            path[root.size()] == '/'));
}

// `path` as the system resolves it: the longest existing prefix with its
// links followed, the rest as text; with `entry`, a last component that is
// a link is the entry itself and is not followed.
std::string Resolve(const char* raw, bool entry) {
  std::string path = raw == nullptr ? "" : raw;
  if (path.empty() || path.front() != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return {};
    path = std::string(cwd) + "/" + path;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::string last;
  if (entry) {
    const std::size_t slash = path.rfind('/');
    last = path.substr(slash + 1);
    if (last == "." || last == ".." || last.empty()) {
      last.clear();
    } else {
      path = slash == 0 ? "/" : path.substr(0, slash);
    }
  }
  std::string rest;
  for (;;) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
      std::string out = resolved;
      if (out == "/") out.clear();
      out += rest;
      if (!last.empty()) out += "/" + last;
      return out.empty() ? "/" : out;
    }
    if (path == "/" || path.empty()) return {};
    const std::size_t slash = path.rfind('/');
    rest = path.substr(slash) + rest;
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}

// True when the call may go ahead; false (errno set) when the unconfined
// account is refused. A confined account out of bounds ends the run.
bool Allowed(const char* what, const char* path, bool write, bool entry, bool log = false) {
  const Guard& g = TheGuard();
  if (!g.active) return true;
  const std::string resolved = Resolve(path, entry);
  const bool ok = Within(g.home, resolved) || (log && Within(g.logs, resolved)) ||
                  (!write && (Within(g.logs, resolved) || (!g.limited && Within(g.root, resolved))));
  if (ok) return true;
  if (g.limited) {
    std::fprintf(stderr, "confined session: %s \"%s\" (%s) outside its home\n", what, path, resolved.c_str());
    fuzz::Fail();
  }
  errno = EACCES;
  return false;
}

// The path an *at call names: its folder's descriptor resolved through
// /proc, then the name.
std::string AtPath(int dir, const char* path) {
  if (dir == AT_FDCWD || path[0] == '/') return path;
  char folder[PATH_MAX];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(dir)).c_str(), folder, sizeof folder - 1);
  if (n <= 0) return path;
  return std::string(folder, static_cast<std::size_t>(n)) + "/" + path;
}

template <class F>
F Real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// What an open's flags ask: to change the file, and to act on the entry
// itself (no link followed, or a new name made).
bool Writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }
bool NamesEntry(int flags) {
  return (flags & O_NOFOLLOW) != 0 || (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
}

}  // namespace

// The calls the engine changes or reads the file system with, checked
// before the C library runs them.
extern "C" {

int open(const char* path, int flags, ...) {
  static const auto real = Real<int (*)(const char*, int, ...)>("open");
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (!Allowed("open", path, Writes(flags), NamesEntry(flags), true)) return -1;
  return real(path, flags, mode);
}

// Uploads are created through their folder's descriptor.
int openat(int dir, const char* path, int flags, ...) {
  static const auto real = Real<int (*)(int, const char*, int, ...)>("openat");
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (!Allowed("openat", AtPath(dir, path).c_str(), Writes(flags), NamesEntry(flags), true)) return -1;
  return real(dir, path, flags, mode);
}

DIR* opendir(const char* path) {
  static const auto real = Real<DIR* (*)(const char*)>("opendir");
  if (!Allowed("opendir", path, false, false)) return nullptr;
  return real(path);
}

int mkdir(const char* path, mode_t mode) {
  static const auto real = Real<int (*)(const char*, mode_t)>("mkdir");
  if (!Allowed("mkdir", path, true, true)) return -1;
  return real(path, mode);
}

int rmdir(const char* path) {
  static const auto real = Real<int (*)(const char*)>("rmdir");
  if (!Allowed("rmdir", path, true, true)) return -1;
  return real(path);
}

int unlink(const char* path) {
  static const auto real = Real<int (*)(const char*)>("unlink");
  if (!Allowed("unlink", path, true, true)) return -1;
  return real(path);
}

int chmod(const char* path, mode_t mode) {
  static const auto real = Real<int (*)(const char*, mode_t)>("chmod");
  if (!Allowed("chmod", path, true, false)) return -1;
  return real(path, mode);
}

int rename(const char* from, const char* to) {
  static const auto real = Real<int (*)(const char*, const char*)>("rename");
  if (!Allowed("rename from", from, true, true) || !Allowed("rename to", to, true, true)) return -1;
  return real(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
  static const auto real = Real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
  if (!Allowed("rename from", AtPath(fromDir, from).c_str(), true, true) ||
      !Allowed("rename to", AtPath(toDir, to).c_str(), true, true)) {
    return -1;
  }
  return real(fromDir, from, toDir, to, flags);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  static const auto real = Real<int (*)(int, const char*, int, const char*)>("renameat");
  if (!Allowed("rename from", AtPath(fromDir, from).c_str(), true, true) ||
      !Allowed("rename to", AtPath(toDir, to).c_str(), true, true)) {
    return -1;
  }
  return real(fromDir, from, toDir, to);
}

int mkdirat(int dir, const char* path, mode_t mode) {
  static const auto real = Real<int (*)(int, const char*, mode_t)>("mkdirat");
  if (!Allowed("mkdir", AtPath(dir, path).c_str(), true, true)) return -1;
  return real(dir, path, mode);
}

int unlinkat(int dir, const char* path, int flags) {
  static const auto real = Real<int (*)(int, const char*, int)>("unlinkat");
  if (!Allowed("unlink", AtPath(dir, path).c_str(), true, true)) return -1;
  return real(dir, path, flags);
}

}  // extern "C"

namespace {

// ---- the tree ------------------------------------------------------------------

// What a folder holds, entry by entry: type, mode, size, and the content of
// a file or the target of a link.
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const fs::path& folder) {
  Snapshot shot;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat st{};
    const std::string path = it->path().string();
    if (::lstat(path.c_str(), &st) != 0) continue;
    std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " ";
    if (S_ISLNK(st.st_mode)) {
      what += fs::read_symlink(it->path(), ec).string();
    } else if (S_ISREG(st.st_mode)) {
      std::ifstream in(path, std::ios::binary);
      what += std::string(std::istreambuf_iterator<char>(in), {});
    }
    shot[path] = what;
  }
  return shot;
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

struct Tree {
  fuzz::ScratchDir scratch;
  fs::path root = fs::canonical(scratch.File(""));
  fs::path home = root / "home";
  fs::path outside = root / "outside";
  fs::path homework = root / "homework";  // a name that starts like the home
  fs::path logs = root / "logs";
  Snapshot homeShot;
  Snapshot outsideShot;

  Tree() {
    fs::create_directories(outside / "dir");
    WriteFile(outside / "secret.txt", "secret");
    WriteFile(outside / "dir" / "x", "x");
    fs::create_directories(homework);
    WriteFile(homework / "notes.txt", "notes");
    fs::create_directories(logs);
    // A folder whose listing takes more than one piece.
    fs::create_directories(root / "pub" / "many");
    for (int n = 0; n < 1200; ++n) {
      WriteFile(root / "pub" / "many" / ("a-rather-long-file-name-for-the-listing-" + std::to_string(n)), "");
    }
    BuildHome();
    homeShot = Take(home);
    outsideShot = Outside();
  }

  void BuildHome() const {
    std::error_code ec;
    fs::permissions(home, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(home, ec);
    fs::create_directories(home / "sub" / "deeper");
    fs::create_directories(home / "empty");
    WriteFile(home / "file.txt", "hello world\r\n");
    WriteFile(home / "name with spaces.txt", "spaces");
    // Names no client can type, which a reply must still not break on.
    WriteFile(home / "odd\r\n226 name", "odd");
    fs::create_directories(home / "line\nbreak");
    WriteFile(home / "sub" / "note.txt", "note");
    std::string data(3000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    WriteFile(home / "data.bin", data);
    WriteFile(home / "readonly.txt", "read only");
    fs::permissions(home / "readonly.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ::mkfifo((home / "fifo").c_str(), 0644);
    fs::create_directory_symlink("../outside", home / "out");
    fs::create_symlink("../outside/secret.txt", home / "outfile");
    fs::create_directory_symlink("sub", home / "in");
  }

  Snapshot Outside() const {
    Snapshot shot = Take(outside);
    shot.merge(Take(homework));
    return shot;
  }

  // After each input: nothing outside the home changed, and the home is as
  // it was before the next one starts.
  void Check() {
    FUZZ_CHECK(Outside() == outsideShot);
    if (Take(home) != homeShot) BuildHome();
    for (const char* log : {"Access.log", "Errors.log"}) {
      std::error_code ec;
      if (fs::file_size(logs / log, ec) > (1u << 20)) fs::resize_file(logs / log, 0, ec);
    }
  }
};

// ---- the host ------------------------------------------------------------------

// FUZZ_TRACE=1 shows what a replayed input does (for reading a crash).
bool Tracing() {
  static const bool on = std::getenv("FUZZ_TRACE") != nullptr;
  return on;
}

// What the session asked of its host, and the host's side of the state. It
// outlives the host, which the session owns.
struct World {
  bool passiveWorks = true;
  bool connectWorks = true;
  bool sendWorks = true;
  bool sendsAtOnce = false;  // each send reported complete inside the call
  velto::CFTPSession* session = nullptr;

  // TLS: what the host holds and what the session asked for.
  bool tlsAvailable = false;
  bool secured = false;
  bool protect = false;
  bool requireData = false;  // the session table's TLSRequiredForData
  bool requireLogon = false;
  bool tlsJustStarted = false;  // AUTH's 234 went out in this step

  bool listening = false;
  bool connecting = false;
  bool connected = false;
  int sendsInFlight = 0;
  bool announced = false;  // a 150 was sent since a data connection last closed
  std::string openReply;   // the code of a reply of several lines not yet ended
  // The control connection: text the client has not read yet, above the
  // bound is a backlog (or always, while the client stalls); the session
  // hears of the drain only after it was told of the backlog.
  std::size_t unreadReplies = 0;
  std::size_t backlogBound = 64 * 1024;
  bool stalled = false;
  bool drainArmed = false;
  bool held = false;
  bool controlClosed = false;
  std::int64_t bytesSent = 0;

  struct Timer {
    std::uint64_t due;
    std::function<void()> callback;
  };
  std::map<velto::ISessionHost::TimerId, Timer> timers;
  velto::ISessionHost::TimerId nextTimer = 0;
  std::uint64_t now = 0;
};

// Reply text: whole CR LF lines. Each reply starts with a code of three
// digits and a blank, or a code and "-" for a reply of several lines; the
// inner lines of those begin with a blank (so no reply sent meanwhile can
// hide among them), and the last is the code and a blank.
void CheckReplies(std::string& open, std::string_view text) {
  FUZZ_CHECK(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n");
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    FUZZ_CHECK(end != std::string_view::npos);
    const std::string_view line = text.substr(0, end);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    text.remove_prefix(end + 2);
    if (!open.empty() && line.substr(0, 1) == " ") continue;
    FUZZ_CHECK(line.size() >= 4);
    FUZZ_CHECK(line[0] >= '1' && line[0] <= '5' && line[1] >= '0' && line[1] <= '9' && line[2] >= '0' &&
               line[2] <= '9');
    FUZZ_CHECK(line[3] == ' ' || line[3] == '-');
    if (open.empty()) {
      if (line[3] == '-') open = line.substr(0, 3);
    } else {
      FUZZ_CHECK(line.substr(0, 3) == open && line[3] == ' ');
      open.clear();
    }
  }
}

class Host final : public velto::ISessionHost {
 public:
  explicit Host(World& world) : w_(world) {}

  void Send(std::string_view text) override {
    if (Tracing()) std::fprintf(stderr, "< %.*s", static_cast<int>(text.size()), text.data());
    FUZZ_CHECK(!w_.controlClosed);
    // What the client sent in clear behind AUTH is never answered.
    FUZZ_CHECK(!w_.tlsJustStarted);
    CheckReplies(w_.openReply, text);
    w_.unreadReplies += text.size();
    for (std::size_t at = 0; at < text.size(); at = text.find("\r\n", at) + 2) {
      if (text.substr(at, 4) == "150 ") {
        w_.announced = true;
        FUZZ_CHECK(!w_.requireData || w_.protect);
      }
      // No log-on in clear while the policy wants TLS.
      if (text.substr(at, 4) == "230 ") FUZZ_CHECK(!w_.requireLogon || w_.secured);
    }
  }
  bool Backlogged() override {
    const bool backlogged = w_.stalled || w_.unreadReplies > w_.backlogBound;
    if (backlogged) w_.drainArmed = true;
    return backlogged;
  }
  void HoldInput(bool hold) override { w_.held = hold; }
  void CloseControl() override { w_.controlClosed = true; }
  int OpenPassive() override {
    ClosePassive();
    if (!w_.passiveWorks) return 0;
    w_.listening = true;
    return 40001;
  }
  void ClosePassive() override { w_.listening = false; }
  bool ConnectData(const std::string&, int port) override {
    FUZZ_CHECK(port >= 1024 && port <= 65535);
    CloseData();
    if (!w_.connectWorks) return false;
    w_.connecting = true;
    return true;
  }
  bool SendFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length) override {
    FUZZ_CHECK(file && offset >= 0 && length > 0);
    struct stat st{};
    FUZZ_CHECK(::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode) && offset + length <= st.st_size);
    return Sent(length);
  }
  bool SendData(std::string bytes) override {
    FUZZ_CHECK(!bytes.empty());
    return Sent(static_cast<std::int64_t>(bytes.size()));
  }
  void CloseData() override {
    // A transfer ends with its connection (the codes of its last reply
    // also answer commands refused meanwhile).
    if (w_.connected) w_.announced = false;
    w_.connecting = false;
    w_.connected = false;
    w_.sendsInFlight = 0;
  }
  std::int64_t DataBytesTaken() const override { return w_.bytesSent; }
  bool TlsAvailable() const override { return w_.tlsAvailable; }
  void StartControlTls(std::string_view reply) override {
    FUZZ_CHECK(w_.tlsAvailable && !w_.secured);
    FUZZ_CHECK(reply == "234 AUTH TLS successful\r\n");
    Send(reply);
    w_.secured = true;
    w_.tlsJustStarted = true;
  }
  void SetDataProtection(bool protect) override {
    FUZZ_CHECK(w_.secured);
    w_.protect = protect;
  }
  TimerId StartTimer(std::uint32_t milliseconds, std::function<void()> callback) override {
    w_.timers[++w_.nextTimer] = {w_.now + milliseconds, std::move(callback)};
    return w_.nextTimer;
  }
  void StopTimer(TimerId id) override { w_.timers.erase(id); }

 private:
  bool Sent(std::int64_t length) {
    // Data goes out only for a transfer the client was told of.
    FUZZ_CHECK(w_.announced);
    if (!w_.connected || !w_.sendWorks) return false;
    w_.bytesSent += length;
    if (w_.sendsAtOnce) {
      w_.session->OnDataSent();
    } else {
      ++w_.sendsInFlight;
    }
    return true;
  }

  World& w_;
};

// ---- one input -----------------------------------------------------------------

enum Op : std::uint8_t {
  kFeed = 0,        // (0 to 3) length byte, then control bytes
  kImplicit = 4,    // as the first record: the implicit listener's connection; elsewhere nothing
  kTls = 5,         // flags: TLS available, a certificate configured, TLS required for data, for log-on
  kConnected = 6,   // the client connected, or the outgoing connection was made
  kConnectFailed,
  kReceive,         // length byte, then upload bytes
  kReceiveBig,      // flags + 1 times 16 KiB of upload
  kSent,
  kClosed,          // flag 1: with an error
  kTimer,           // the earliest timer fires
  kDrain,           // flag 1: the client stops or resumes reading; else it reads all
  kFaults,          // flags: passive, connect and send fail; sends complete at once
  kClientQuit,      // the client closed the control connection
};

struct Run {
  World world;
  velto::CFTPSession* session = nullptr;
  velto::CFTPSessions* table = nullptr;
  bool clientClosed = false;
  std::string unread;  // control bytes the host holds back while input is held

  bool Open() const { return !world.controlClosed && !clientClosed; }

  void DeliverControl() {
    if (!Open() || world.held || unread.empty()) return;
    const std::string bytes = std::move(unread);
    unread.clear();
    session->OnControlData(bytes);
  }

  void Step(std::uint8_t op, std::string_view payload) {
    World& w = world;
    const std::uint8_t flags = op >> 4;
    w.tlsJustStarted = false;
    if (Tracing()) {
      std::fprintf(stderr, "- op %d flags %d %s\n", op & 0x0f, flags,
                   (op & 0x0f) < kImplicit ? std::string(payload).c_str() : "");
    }
    switch (op & 0x0f) {
      case kConnected:
        if (w.listening && !w.connected) {
          w.listening = false;
        } else if (w.connecting) {
          w.connecting = false;
        } else {
          break;
        }
        w.connected = true;
        session->OnDataConnected();
        break;
      case kConnectFailed:
        if (!w.connecting) break;
        w.connecting = false;
        session->OnDataConnectFailed();
        break;
      case kReceive:
        if (w.connected) session->OnDataReceived(payload);
        break;
      case kReceiveBig:
        if (w.connected) session->OnDataReceived(std::string((flags + 1u) * 16384u, 'u'));
        break;
      case kSent:
        if (w.sendsInFlight == 0) break;
        --w.sendsInFlight;
        session->OnDataSent();
        break;
      case kClosed:
        if (!w.connected) break;
        w.connected = false;
        w.sendsInFlight = 0;
        w.announced = false;
        session->OnDataClosed((flags & 1) != 0);
        break;
      case kTimer: {
        if (w.timers.empty()) break;
        auto next = w.timers.begin();
        for (auto it = w.timers.begin(); it != w.timers.end(); ++it) {
          if (it->second.due < next->second.due) next = it;
        }
        w.now = next->second.due;
        std::function<void()> callback = std::move(next->second.callback);
        w.timers.erase(next);
        callback();
        break;
      }
      case kDrain:
        if ((flags & 1) != 0) {
          w.stalled = !w.stalled;
          break;
        }
        w.stalled = false;
        w.unreadReplies = 0;
        if (w.drainArmed && Open()) {
          w.drainArmed = false;
          session->OnControlDrained();
        }
        break;
      case kFaults:
        w.passiveWorks = (flags & 1) == 0;
        w.connectWorks = (flags & 2) == 0;
        w.sendWorks = (flags & 4) == 0;
        w.sendsAtOnce = (flags & 8) != 0;
        break;
      case kTls:
        w.tlsAvailable = (flags & 1) != 0;
        table->TLSCertificateFile = (flags & 2) != 0 ? "/etc/velto/cert.pem" : "";
        w.requireData = table->TLSRequiredForData = (flags & 4) != 0;
        w.requireLogon = table->TLSRequiredForLogon = (flags & 8) != 0;
        break;
      case kImplicit:
        break;
      case kClientQuit:
        if (!Open()) break;
        clientClosed = true;
        session->OnControlClosed();
        break;
      default:  // control bytes
        if (Open()) unread.append(payload);
        break;
    }
    DeliverControl();
  }
};

bool HasPayload(std::uint8_t op) {
  const std::uint8_t kind = op & 0x0f;
  return kind < kImplicit || kind == kReceive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Tree tree;
  static platform::EventLoop loop;
  static velto::CLog accessLog;
  static velto::CLog errorLog;
  static velto::CFTPUsers users;
  static const bool ready = [] {
    accessLog.SetLogFile((tree.logs / "Access.log").string());
    errorLog.SetLogFile((tree.logs / "Errors.log").string());
    users.SetDataFile((tree.root / "Velto.usr").string());
    // Both may write; only "jail" is held in its home.
    FUZZ_CHECK(users.pAddUser("jail", "pw", tree.home.string(), true, true, true, true, true, true));
    FUZZ_CHECK(users.pAddUser("free", "pw", tree.home.string(), true, false, true, true, false, true));
    Guard& g = TheGuard();
    g.root = tree.root.string();
    g.home = tree.home.string();
    g.logs = tree.logs.string();
    return true;
  }();
  (void)ready;
  if (size == 0) return 0;

  const std::uint8_t setup = data[0];
  const bool limited = (setup & 1) == 0;
  velto::SessionServices services{&users, &accessLog, &errorLog};
  std::size_t activity = 0;
  services.feed = [&activity](const std::string& line) { activity += line.size(); };
  services.activity = [&activity](velto::CFTPSession&, std::string_view text) { activity += text.size(); };
  velto::CFTPSessions table(loop, services);
  table.FailedLogonDelay = (setup & 2) != 0 ? 1000 : 0;
  table.LogonTimeout = (setup & 4) != 0 ? 60000 : 0;
  static const char* const kAttempts[] = {"3", "1", "", "x"};
  table.MaxLogonAttempts = kAttempts[(setup >> 3) & 3];

  Run run;
  Guard& guard = TheGuard();
  guard.limited = limited;
  guard.active = true;
  {
    const bool implicitTls = size > 1 && (data[1] & 0x0f) == kImplicit;
    velto::ConnectionInfo info{"127.0.0.1", 50000, "127.0.0.1", 21, (setup & 32) != 0 ? "" : "127.0.0.1",
                               implicitTls};
    run.world.tlsAvailable = run.world.secured = implicitTls;
    run.table = &table;
    auto session = std::make_unique<velto::CFTPSession>(table, std::make_unique<Host>(run.world), info);
    run.session = session.get();
    run.world.session = session.get();
    FUZZ_CHECK(run.world.protect == implicitTls);
    session->SetActivityLogging((setup & 64) != 0);
    run.world.backlogBound = (setup & 128) != 0 ? 1024 : 64 * 1024;
    FUZZ_CHECK(session->pSubmitCommand(limited ? "USER jail\r\n" : "USER free\r\n") == "331 OK need password.\r\n");
    FUZZ_CHECK(session->pSubmitCommand("PASS pw\r\n").compare(0, 4, "230 ") == 0);

    std::size_t at = 1;
    while (at < size) {
      const std::uint8_t op = data[at++];
      std::string_view payload;
      if (HasPayload(op) && at < size) {
        const std::size_t wanted = data[at++];
        const std::size_t length = std::min(wanted, size - at);
        payload = std::string_view(reinterpret_cast<const char*>(data) + at, length);
        at += length;
      }
      run.Step(op, payload);
    }
    // A session that holds its input has a reason that will go: a timer
    // or a drain it waits for.
    if (run.Open() && run.world.held) FUZZ_CHECK(!run.world.timers.empty() || run.world.drainArmed);
  }
  guard.active = false;
  tree.Check();
  return 0;
}
