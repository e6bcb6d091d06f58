// ftpload: the load client of the FTP benchmark. One workload per run; the
// result is one JSON object on standard output.
//
//   ftpload <mode> --port P --user U --pass W [options]
//   modes: get, put (one large file), smallget, smallput (many clients, small
//   files), logon (connect, USER, PASS, QUIT), idle (hold logged-on sessions
//   until standard input says "release"), list (LIST of a folder, repeated).
//
//   With --gate 1 the client says {"ready": 1} once it has logged on and waits
//   for a line on standard input before it starts; after its result it waits
//   for another line before it lets go of its connections. With --tls 1.3
//   (or 1.2) every connection is FTPS: AUTH TLS, PROT P, and data connections
//   that resume the control connection's session. The benchmark
//   samples the server (CPU time, system calls) between the two.

#include "ftp_client.h"
#include "transfers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace ftpload {
namespace {

struct Options {
  std::string mode;
  int port = 0;
  std::string user;
  std::string password;
  std::string file;      // get, put: the file name; smallget/smallput/list: a folder
  std::string pattern;   // path of the pattern block files are made of
  std::string source;    // put: a local file of the pattern to send with sendfile
  uint64_t size = 0;     // bytes per file
  int clients = 1;
  int count = 100;       // smallget: files in the folder; smallput: names per client
  double duration = 10;  // seconds of load
  double limit = 120;    // seconds any single run may take at most
  int runs = 5;
  int sessions = 500;
  double hold = 120;     // idle: longest wait for the release line
  int timeout_ms = 30000;
  bool gate = false;
  long files = 0;        // smallget/smallput: stop after this many transfers in all (0: duration only)
  std::string tls;       // "1.2" or "1.3": FTPS (AUTH TLS, PROT P) with exactly that version
};

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Collects the figures of one run and prints them as a JSON object.
class Result {
 public:
  void Set(const std::string& key, double value) {
    std::ostringstream s;
    s.precision(10);
    s << value;
    fields_[key] = s.str();
  }
  void SetText(const std::string& key, const std::string& value) { fields_[key] = JsonText(value); }
  void SetList(const std::string& key, const std::vector<double>& values) {
    std::ostringstream s;
    s.precision(10);
    s << "[";
    for (size_t i = 0; i < values.size(); ++i) s << (i ? "," : "") << values[i];
    s << "]";
    fields_[key] = s.str();
  }
  void Print() const {
    std::string out = "{";
    bool first = true;
    for (const auto& [key, value] : fields_) {
      out += (first ? "" : ", ") + JsonText(key) + ": " + value;
      first = false;
    }
    std::cout << out << "}" << std::endl;
  }

 private:
  std::map<std::string, std::string> fields_;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

Clock::time_point After(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::optional<Pattern> LoadPattern(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return std::nullopt;
  if (bytes.empty()) return std::nullopt;
  return Pattern(std::move(bytes));
}

// Error counts and the first few distinct texts, shared by worker threads.
class ErrorLog {
 public:
  void Add(const std::string& text) {
    std::lock_guard lock(mutex_);
    ++count_;
    if (samples_.size() < 5 && std::find(samples_.begin(), samples_.end(), text) == samples_.end()) {
      samples_.push_back(text);
    }
  }
  void Report(Result& result) const {
    std::lock_guard lock(mutex_);
    result.Set("errors", static_cast<double>(count_));
    std::string joined;
    for (const auto& s : samples_) joined += (joined.empty() ? "" : " | ") + s;
    result.SetText("error_samples", joined);
  }

 private:
  mutable std::mutex mutex_;
  uint64_t count_ = 0;
  std::vector<std::string> samples_;
};

std::chrono::milliseconds Timeout(const Options& o) { return std::chrono::milliseconds(o.timeout_ms); }

// Waits (bounded by --hold) for a line on standard input.
void AwaitLine(const Options& o) {
  pollfd in{STDIN_FILENO, POLLIN, 0};
  if (::poll(&in, 1, static_cast<int>(o.hold * 1000)) <= 0) return;
  char line[256];
  [[maybe_unused]] const ssize_t n = ::read(STDIN_FILENO, line, sizeof line);
}

// The start of a gated run: logged on, waiting to be told to go.
void GateStart(const Options& o) {
  if (!o.gate) return;
  std::cout << "{\"ready\": 1}" << std::endl;
  AwaitLine(o);
}

// The end of a gated run: the result is out, the connections are still held.
void GateEnd(const Options& o) {
  if (o.gate) AwaitLine(o);
}

// --- One large file ----------------------------------------------------------------

int RunGet(const Options& o, const Pattern& pattern) {
  Result result;
  ControlConnection control(Timeout(o));
  if (Status s = control.Open(o.port, o.user, o.password); !s.ok()) {
    result.SetText("error", "log-on: " + s.error);
    result.Print();
    return 1;
  }
  // Checking every byte would cost the client as much as the copy; the first
  // and last MiB catch misplaced or missing chunks.
  constexpr uint64_t kWindow = 1 << 20;
  const uint64_t size = o.size;
  auto sink = [&](const char* data, size_t n, uint64_t offset) {
    if (offset < kWindow || offset + n > size - std::min(size, kWindow)) {
      return pattern.Matches(data, n, offset);
    }
    return true;
  };
  auto want = [&](uint64_t offset) { return offset < kWindow || offset + (1 << 20) + kWindow > size; };
  GateStart(o);
  const auto start = Clock::now();
  Transfer t = Download(control, "RETR " + o.file, sink, After(o.limit), want);
  const double seconds = Seconds(Clock::now() - start);
  result.Set("bytes", static_cast<double>(t.bytes));
  result.Set("seconds", seconds);
  result.Set("mib_per_s", static_cast<double>(t.bytes) / (1 << 20) / seconds);
  if (t.status.ok() && t.bytes != size) {
    t.status = Status::Fail("received " + std::to_string(t.bytes) + " bytes of " + std::to_string(size));
  }
  if (!t.status.ok()) result.SetText("error", t.status.error);
  result.Print();
  GateEnd(o);
  return t.status.ok() ? 0 : 1;
}

int RunPut(const Options& o, const Pattern& pattern) {
  Result result;
  ControlConnection control(Timeout(o));
  if (Status s = control.Open(o.port, o.user, o.password); !s.ok()) {
    result.SetText("error", "log-on: " + s.error);
    result.Print();
    return 1;
  }
  platform::UniqueFd source;
  if (!o.source.empty()) {
    source.reset(::open(o.source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) {
      result.SetText("error", "cannot open " + o.source);
      result.Print();
      return 1;
    }
  }
  GateStart(o);
  const auto start = Clock::now();
  Transfer t = Upload(control, "STOR " + o.file, pattern, o.size, After(o.limit), source ? source.get() : -1);
  const double seconds = Seconds(Clock::now() - start);
  result.Set("bytes", static_cast<double>(t.bytes));
  result.Set("seconds", seconds);
  result.Set("mib_per_s", static_cast<double>(t.bytes) / (1 << 20) / seconds);
  if (!t.status.ok()) result.SetText("error", t.status.error);
  result.Print();
  GateEnd(o);
  return t.status.ok() ? 0 : 1;
}

// --- Many clients --------------------------------------------------------------------

// Runs `clients` workers for `duration` seconds after all of them have had the
// chance to log on; each step is timed and counted.
class LoadRun {
 public:
  using Step = std::function<Status(int client, uint64_t n, ControlConnection& control)>;

  LoadRun(const Options& o, bool log_on_first) : o_(o), log_on_first_(log_on_first) {}

  int Run(const Step& step) {
    latencies_.assign(static_cast<size_t>(o_.clients), {});
    remaining_ = o_.files;
    std::barrier<StartClock> sync(o_.clients, StartClock{this});
    std::barrier<Finish> done(o_.clients, Finish{this});
    std::vector<std::thread> threads;
    for (int i = 0; i < o_.clients; ++i) {
      threads.emplace_back([&, i] { Worker(i, step, sync, done, latencies_[static_cast<size_t>(i)]); });
    }
    for (auto& t : threads) t.join();
    return ok_ ? 0 : 1;
  }

 private:
  void Report() {
    const double seconds = Seconds(Clock::now() - start_);
    std::vector<double> all;
    for (auto& l : latencies_) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    Result result;
    result.Set("ok", static_cast<double>(all.size()));
    result.Set("seconds", seconds);
    result.Set("per_s", static_cast<double>(all.size()) / seconds);
    if (!all.empty()) {
      auto at = [&](double q) {
        const size_t index = static_cast<size_t>(std::max(0.0, std::ceil(q * all.size()) - 1));
        return all[std::min(index, all.size() - 1)];
      };
      result.Set("p50_ms", at(0.50) * 1000);
      result.Set("p99_ms", at(0.99) * 1000);
      result.Set("max_ms", all.back() * 1000);
    }
    errors_.Report(result);
    result.Print();
    ok_ = !all.empty();
  }

  struct Finish {
    LoadRun* run;
    void operator()() noexcept {
      run->Report();
      GateEnd(run->o_);
    }
  };

  bool LogOn(ControlConnection& control) {
    Status s = control.Open(o_.port, o_.user, o_.password);
    if (!s.ok()) {
      errors_.Add("log-on: " + s.error);
      control.Close();
    }
    return s.ok();
  }

  // Starts the measured period once every worker has logged on (or failed to).
  struct StartClock {
    LoadRun* run;
    void operator()() noexcept {
      GateStart(run->o_);
      run->start_ = Clock::now();
      run->deadline_ = run->start_ + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(run->o_.duration));
    }
  };

  void Worker(int client, const Step& step, std::barrier<StartClock>& sync, std::barrier<Finish>& done,
              std::vector<double>& latencies) {
    ControlConnection control(Timeout(o_));
    if (log_on_first_) LogOn(control);
    sync.arrive_and_wait();
    uint64_t n = 0;
    while (Clock::now() < deadline_) {
      if (o_.files > 0 && remaining_.fetch_sub(1) <= 0) break;
      if (log_on_first_ && !control.connected()) {
        if (!LogOn(control)) {
          // The server refused or failed; retry after a pause rather than spin.
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          continue;
        }
      }
      const auto t0 = Clock::now();
      Status s = step(client, n++, control);
      if (s.ok()) {
        latencies.push_back(Seconds(Clock::now() - t0));
      } else {
        errors_.Add(s.error);
        control.Close();
        if (errors_count_.fetch_add(1) > 10000) break;
        // A refusing server answers at once; pausing keeps the worker from
        // turning failures into load.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    // The connection is held until every worker is done and the result is out.
    done.arrive_and_wait();
  }

  const Options& o_;
  bool log_on_first_;
  Clock::time_point start_;
  Clock::time_point deadline_;
  ErrorLog errors_;
  std::atomic<uint64_t> errors_count_{0};
  std::atomic<long> remaining_{0};
  std::vector<std::vector<double>> latencies_;
  bool ok_ = false;
};

int RunSmallGet(const Options& o, const Pattern& pattern) {
  LoadRun run(o, true);
  const double limit = o.limit;
  return run.Run([&](int client, uint64_t n, ControlConnection& control) {
    const int index = static_cast<int>((static_cast<uint64_t>(client) * 7 + n) % static_cast<uint64_t>(o.count));
    char name[32];
    std::snprintf(name, sizeof name, "/f%04d", index);
    auto sink = [&](const char* data, size_t size, uint64_t offset) {
      return offset + size <= o.size && pattern.Matches(data, size, offset);
    };
    Transfer t = Download(control, "RETR " + o.file + name, sink, After(limit));
    if (t.status.ok() && t.bytes != o.size) {
      return Status::Fail("RETR gave " + std::to_string(t.bytes) + " bytes of " + std::to_string(o.size));
    }
    return t.status;
  });
}

int RunSmallPut(const Options& o, const Pattern& pattern) {
  LoadRun run(o, true);
  return run.Run([&](int client, uint64_t n, ControlConnection& control) {
    char name[48];
    std::snprintf(name, sizeof name, "/c%02d-%03d", client, static_cast<int>(n % static_cast<uint64_t>(o.count)));
    return Upload(control, "STOR " + o.file + name, pattern, o.size, After(o.limit)).status;
  });
}

int RunLogOn(const Options& o) {
  LoadRun run(o, false);
  return run.Run([&](int, uint64_t, ControlConnection& control) {
    Status s = control.Connect(o.port);
    if (s.ok()) s = control.LogOn(o.user, o.password);
    if (s.ok()) s = control.Quit();
    control.Close();
    return s;
  });
}

// --- Idle sessions -----------------------------------------------------------------

int RunIdle(const Options& o) {
  constexpr int kThreads = 10;
  std::vector<std::vector<std::unique_ptr<ControlConnection>>> held(kThreads);
  ErrorLog errors;
  const auto deadline = After(o.limit);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < o.sessions && Clock::now() < deadline; i += kThreads) {
        auto control = std::make_unique<ControlConnection>(Timeout(o));
        Status s = control->Open(o.port, o.user, o.password);
        if (s.ok()) {
          held[static_cast<size_t>(t)].push_back(std::move(control));
        } else {
          errors.Add(s.error);
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  size_t open = 0;
  for (auto& h : held) open += h.size();
  Result result;
  result.Set("sessions", static_cast<double>(open));
  errors.Report(result);
  result.Print();

  // Hold the sessions until told to let go (or the hold time has passed).
  pollfd in{STDIN_FILENO, POLLIN, 0};
  ::poll(&in, 1, static_cast<int>(o.hold * 1000));
  return open == static_cast<size_t>(o.sessions) ? 0 : 1;
}

// --- Listing -------------------------------------------------------------------------

int RunList(const Options& o) {
  Result result;
  ControlConnection control(Timeout(o));
  Status s = control.Open(o.port, o.user, o.password);
  if (s.ok()) s = control.Expect("CWD " + o.file, 2);
  if (!s.ok()) {
    result.SetText("error", s.error);
    result.Print();
    return 1;
  }
  std::vector<double> times;
  double lines = 0;
  for (int r = 0; r < o.runs; ++r) {
    uint64_t newlines = 0;
    auto sink = [&](const char* data, size_t n, uint64_t) {
      newlines += static_cast<uint64_t>(std::count(data, data + n, '\n'));
      return true;
    };
    const auto start = Clock::now();
    Transfer t = Download(control, "LIST", sink, After(o.limit));
    if (!t.status.ok()) {
      result.SetText("error", t.status.error);
      break;
    }
    times.push_back(Seconds(Clock::now() - start));
    lines = static_cast<double>(newlines);
  }
  result.SetList("seconds", times);
  result.Set("lines", lines);
  result.Print();
  return times.size() == static_cast<size_t>(o.runs) ? 0 : 1;
}

bool Parse(int argc, char** argv, Options& o) {
  if (argc < 2) return false;
  o.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--port") o.port = std::stoi(value);
    else if (key == "--user") o.user = value;
    else if (key == "--pass") o.password = value;
    else if (key == "--file") o.file = value;
    else if (key == "--pattern") o.pattern = value;
    else if (key == "--source") o.source = value;
    else if (key == "--size") o.size = std::stoull(value);
    else if (key == "--clients") o.clients = std::stoi(value);
    else if (key == "--count") o.count = std::stoi(value);
    else if (key == "--duration") o.duration = std::stod(value);
    else if (key == "--limit") o.limit = std::stod(value);
    else if (key == "--runs") o.runs = std::stoi(value);
    else if (key == "--sessions") o.sessions = std::stoi(value);
    else if (key == "--hold") o.hold = std::stod(value);
    else if (key == "--timeout-ms") o.timeout_ms = std::stoi(value);
    else if (key == "--gate") o.gate = value != "0";
    else if (key == "--files") o.files = std::stol(value);
    else if (key == "--tls") o.tls = value;
    else return false;
  }
  return o.port > 0 && o.clients > 0 && o.count > 0;
}

}  // namespace
}  // namespace ftpload

int main(int argc, char** argv) {
  using namespace ftpload;
  Options o;
  try {
    if (!Parse(argc, argv, o)) {
      std::cerr << "usage: ftpload get|put|smallget|smallput|logon|idle|list --port P --user U --pass W ...\n";
      return 2;
    }
  } catch (const std::exception& e) {
    std::cerr << "bad argument: " << e.what() << "\n";
    return 2;
  }
  // Hundreds of sessions plus their data connections.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  if (!o.tls.empty()) {
    if (std::string error = InitTls(o.tls); !error.empty()) {
      std::cerr << "TLS: " << error << "\n";
      return 2;
    }
  }
  std::optional<Pattern> pattern;
  if (o.mode == "get" || o.mode == "put" || o.mode == "smallget" || o.mode == "smallput") {
    pattern = LoadPattern(o.pattern);
    if (!pattern) {
      std::cerr << "cannot read the pattern file " << o.pattern << "\n";
      return 2;
    }
  }
  if (o.mode == "get") return RunGet(o, *pattern);
  if (o.mode == "put") return RunPut(o, *pattern);
  if (o.mode == "smallget") return RunSmallGet(o, *pattern);
  if (o.mode == "smallput") return RunSmallPut(o, *pattern);
  if (o.mode == "logon") return RunLogOn(o);
  if (o.mode == "idle") return RunIdle(o);
  if (o.mode == "list") return RunList(o);
  std::cerr << "unknown mode " << o.mode << "\n";
  return 2;
}
