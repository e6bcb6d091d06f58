#include "platform/event_loop.h"

#include "platform/fd.h"
#include "platform/winsock_errors.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <deque>
#include <initializer_list>
#include <map>
#include <set>
#include <unordered_map>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// After this many messages taken from the queue without looking at the
// descriptors, Get looks once without blocking, so a stream of posts cannot
// starve the sockets and timers.
constexpr int kFairnessBatch = 64;
constexpr int kMaxEpollEvents = 256;

struct Target {
  MessageHandler handler;
  bool visible = true;
};

struct Timer {
  std::uint32_t periodMs = 0;
  TimerCallback callback;
  Clock::time_point due;
  bool tickQueued = false;
};

struct Watch {
  TargetHandle target = 0;
  std::uint32_t number = 0;
  std::uint32_t mask = 0;
  bool listening = false;
  bool datagram = false;
  bool connecting = false;
  bool readArmed = true;
  bool acceptArmed = true;
  bool writePending = true;  // post write readiness at the next chance
  bool peerClosed = false;
  bool ended = false;       // a receive found the end of the stream
  // Readiness to read was reported since a receive last found nothing
  // waiting. A new watch starts without: registering reports what is due.
  bool inputSeen = false;
  bool errored = false;
  bool closePosted = false;
  bool readPaused = false;  // reads held back; resuming posts what is due
  // Urgent data arrived. A receive stops short at its mark even when more
  // is waiting, and no new edge will say so.
  bool urgent = false;
};

// A failed call that can only mean a fault in this program (a descriptor the
// loop owns, arguments it built): said on standard error, and fatal in debug
// and sanitizer builds so that tests stop at it.
void ReportBug(const char* what) {
  std::fprintf(stderr, "platform::EventLoop: %s failed: %s\n", what, std::strerror(errno));
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
  std::abort();
#endif
}

// The loop cannot exist without its descriptors.
[[noreturn]] void Fatal(const char* what) {
  std::fprintf(stderr, "platform::EventLoop: %s failed: %s\n", what, std::strerror(errno));
  std::abort();
}

}  // namespace

struct EventLoop::Impl {
  UniqueFd epoll;
  UniqueFd wake;    // eventfd: posts made while nobody drives the loop
  UniqueFd timer;   // timerfd armed at the earliest timer expiry
  UniqueFd signals; // one signalfd for every watched signal
  struct SignalRoute {
    TargetHandle target = 0;
    std::uint32_t number = 0;
  };
  std::unordered_map<int, SignalRoute> signalRoutes;  // signal number -> where it goes

  std::unordered_map<TargetHandle, Target> targets;
  TargetHandle nextTarget = 0x10000;

  std::deque<Message> queue;
  int sinceCollect = 0;
  bool wakePending = false;
  int driving = 0;  // >0 while Run/Get/Peek is collecting or dispatching
  // An outside loop drives us through ProcessReady. A handler it runs may
  // enter that loop again (a modal dialog): whatever is queued must then keep
  // the descriptor readable, or it would wait until the handler returns.
  bool outsideDriven = false;
  // Get waits in epoll_wait itself: it passes the time to the next timer as
  // the wait's limit, so the timer descriptor is left alone (no arming and
  // no read per expiry). Only an outside loop, which sees nothing but the
  // descriptor, needs it armed.
  bool selfDriven = false;

  std::unordered_map<TimerId, Timer> timers;
  std::set<std::pair<Clock::time_point, TimerId>> timerOrder;
  TimerId nextTimer = 1;
  Clock::time_point armedFor = Clock::time_point::max();

  std::unordered_map<int, Watch> watches;
  // How many descriptors report to each target: a target without any can
  // only receive posted messages, so peeking at it needs no look at the
  // descriptors.
  std::unordered_map<TargetHandle, int> watchesPerTarget;

  void CountWatch(TargetHandle target, int delta) {
    auto& n = watchesPerTarget[target];
    n += delta;
    if (n <= 0) watchesPerTarget.erase(target);
  }

  bool quit = false;
  int quitCode = 0;

  Impl() {
    epoll = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll) Fatal("epoll_create1");
    wake = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake) Fatal("eventfd");
    timer = UniqueFd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!timer) Fatal("timerfd_create");
    if (!AddInternal(wake.get())) Fatal("epoll_ctl(ADD wake)");
    if (!AddInternal(timer.get())) Fatal("epoll_ctl(ADD timer)");
    // A peer that closes while we write must give an error, not end the
    // process (sendfile has no MSG_NOSIGNAL).
    std::signal(SIGPIPE, SIG_IGN);
  }

  bool AddInternal(int fd) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    return ::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &ev) == 0;
  }

  // Takes a descriptor out of the poll set. ENOENT is no fault: a number
  // closed and reused behind the loop's back was dropped by the system.
  void RemoveFromPoll(int fd) {
    if (::epoll_ctl(epoll.get(), EPOLL_CTL_DEL, fd, nullptr) != 0 && errno != ENOENT) ReportBug("epoll_ctl(DEL)");
  }

  // Makes the pollable descriptor readable (once until it is read).
  void Wake() {
    if (wakePending) return;
    std::uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(wake.get(), &one, sizeof one);
    wakePending = true;
  }

  void Enqueue(const Message& m) {
    const bool wasEmpty = queue.empty();
    queue.push_back(m);
    // Nobody is collecting (an outside loop drives us): make the pollable
    // descriptor readable.
    if ((wasEmpty || outsideDriven) && driving == 0) Wake();
  }

  // ---- timers ----
  // The descriptor is re-armed only when a timer becomes due earlier than
  // it is armed for; when the earliest timer goes away it is left armed,
  // and the early wake-up re-arms it for what is due then.
  void ArmTimerFd() {
    if (selfDriven) return;
    Clock::time_point earliest = timerOrder.empty() ? Clock::time_point::max() : timerOrder.begin()->first;
    if (earliest >= armedFor) return;
    armedFor = earliest;
    itimerspec spec{};
    if (earliest != Clock::time_point::max()) {
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(earliest.time_since_epoch()).count();
      if (ns <= 0) ns = 1;
      spec.it_value.tv_sec = ns / 1000000000;
      spec.it_value.tv_nsec = ns % 1000000000;
    }
    if (::timerfd_settime(timer.get(), TFD_TIMER_ABSTIME, &spec, nullptr) != 0) {
      // Nothing is armed: the next change of timers tries again.
      armedFor = Clock::time_point::max();
      ReportBug("timerfd_settime");
    }
  }

  void CollectDueTimers() {
    if (timerOrder.empty()) return;
    const auto now = Clock::now();
    while (!timerOrder.empty() && timerOrder.begin()->first <= now) {
      auto [due, id] = *timerOrder.begin();
      timerOrder.erase(timerOrder.begin());
      Timer& t = timers.at(id);
      if (!t.tickQueued) {
        t.tickQueued = true;
        Enqueue(Message{0, kTimerMessage, static_cast<std::intptr_t>(id), 0});
      }
      auto next = due + std::chrono::milliseconds(t.periodMs);
      if (next <= now) next = now + std::chrono::milliseconds(t.periodMs);
      t.due = next;
      timerOrder.emplace(next, id);
    }
    if (armedFor <= now) armedFor = Clock::time_point::max();  // that expiry has passed
    ArmTimerFd();
  }

  // ---- sockets ----
  void PostSocket(int fd, const Watch& w, std::uint32_t event, std::uint32_t error) {
    if ((w.mask & event) == 0) return;
    Enqueue(Message{w.target, w.number, static_cast<std::intptr_t>(fd), MakeSelectLParam(event, error)});
  }

  // Read readiness on a stream socket whose peer may have closed: data still
  // waiting is reported as a read, the close only once everything is read.
  void PostReadOrClose(int fd, Watch& w) {
    if (w.closePosted) return;
    if (w.readPaused) {
      // Owed: unpausing posts it.
      w.readArmed = false;
      return;
    }
    if (w.datagram || (!w.peerClosed && !w.errored)) {
      w.readArmed = false;
      PostSocket(fd, w, kFdRead, 0);
      return;
    }
    if (!w.errored && w.ended) {
      // A receive found the end: nothing can come after it.
      w.closePosted = true;
      PostSocket(fd, w, kFdClose, 0);
      return;
    }
    if (!w.errored && w.inputSeen) {
      // The peer's close with data maybe before it: the read tells which
      // (it finds the end when nothing precedes it).
      w.readArmed = false;
      PostSocket(fd, w, kFdRead, 0);
      return;
    }
    char probe;
    const long n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      w.readArmed = false;
      PostSocket(fd, w, kFdRead, 0);
    } else if (n == 0) {
      w.closePosted = true;
      PostSocket(fd, w, kFdClose, 0);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
      w.closePosted = true;
      PostSocket(fd, w, kFdClose, static_cast<std::uint32_t>(WinsockErrorFromErrno(errno)));
    } else if (w.errored) {
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      w.closePosted = true;
      PostSocket(fd, w, kFdClose, err ? static_cast<std::uint32_t>(WinsockErrorFromErrno(err)) : 0u);
    }
  }

  void OnSocketEvents(int fd, std::uint32_t events) {
    auto it = watches.find(fd);
    if (it == watches.end()) return;
    Watch& w = it->second;
    if (w.connecting) {
      if ((events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) == 0) return;
      w.connecting = false;
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      PostSocket(fd, w, kFdConnect, err ? static_cast<std::uint32_t>(WinsockErrorFromErrno(err)) : 0u);
      if (err != 0) return;
      if (w.writePending) {
        w.writePending = false;
        PostSocket(fd, w, kFdWrite, 0);
      }
      events &= ~static_cast<std::uint32_t>(EPOLLOUT);
    }
    if (w.listening) {
      if ((events & EPOLLIN) && w.acceptArmed) {
        w.acceptArmed = false;
        PostSocket(fd, w, kFdAccept, 0);
      }
      return;
    }
    if (events & (EPOLLRDHUP | EPOLLHUP)) w.peerClosed = true;
    if (events & EPOLLERR) w.errored = true;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP)) w.inputSeen = true;
    if (events & EPOLLPRI) w.urgent = true;
    if (w.readPaused && (events & EPOLLERR) && !w.closePosted) {
      // A paused socket still learns at once that its connection failed.
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0) {
        w.closePosted = true;
        PostSocket(fd, w, kFdClose, static_cast<std::uint32_t>(WinsockErrorFromErrno(err)));
      }
    }
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && w.readArmed) PostReadOrClose(fd, w);
    if ((events & EPOLLOUT) && w.writePending && !w.closePosted) {
      w.writePending = false;
      PostSocket(fd, w, kFdWrite, 0);
    }
  }

  void OnSignals() {
    signalfd_siginfo info{};
    while (::read(signals.get(), &info, sizeof info) == static_cast<long>(sizeof info)) {
      const auto route = signalRoutes.find(static_cast<int>(info.ssi_signo));
      if (route != signalRoutes.end()) {
        Enqueue(Message{route->second.target, route->second.number, static_cast<std::intptr_t>(info.ssi_signo), 0});
      }
    }
  }

  bool IsSignalTarget(TargetHandle target) const {
    for (const auto& [signo, route] : signalRoutes) {
      if (route.target == target) return true;
    }
    return false;
  }

  // Points the one signalfd at the routed signals (created on first use,
  // closed when none is left).
  bool UpdateSignalFd() {
    sigset_t set;
    sigemptyset(&set);
    for (const auto& [signo, route] : signalRoutes) sigaddset(&set, signo);
    if (signalRoutes.empty()) {
      if (signals) {
        RemoveFromPoll(signals.get());
        signals.reset();
      }
      return true;
    }
    if (signals) return ::signalfd(signals.get(), &set, SFD_NONBLOCK | SFD_CLOEXEC) != -1;
    signals = UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals) return false;
    if (!AddInternal(signals.get())) {
      signals.reset();
      return false;
    }
    return true;
  }

  // Signals in `signos` become message `number` to `target` (0: back to
  // their default disposition). They are blocked so only the signalfd sees
  // them; threads started later inherit the block.
  bool WatchSignals(std::initializer_list<int> signos, TargetHandle target, std::uint32_t number) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signo : signos) sigaddset(&set, signo);
    if (target == 0) {
      for (const int signo : signos) signalRoutes.erase(signo);
      const bool updated = UpdateSignalFd();
      ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
      return updated;
    }
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    for (const int signo : signos) signalRoutes[signo] = SignalRoute{target, number};
    if (UpdateSignalFd()) return true;
    for (const int signo : signos) signalRoutes.erase(signo);
    UpdateSignalFd();
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    return false;
  }

  // Wait up to timeoutMs (-1 = no limit) for descriptors, turn what is ready
  // into queued messages.
  void Collect(int timeoutMs) {
    sinceCollect = 0;
    if (selfDriven && timeoutMs != 0 && !timerOrder.empty()) {
      // Wake for the earliest timer (rounded up to whole milliseconds).
      const auto left = timerOrder.begin()->first - Clock::now();
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      const long bounded = std::clamp<long>(static_cast<long>(ms), 0, 0x7FFFFFFF);
      if (timeoutMs < 0 || bounded < timeoutMs) timeoutMs = static_cast<int>(bounded);
    }
    epoll_event events[kMaxEpollEvents];
    int n = ::epoll_wait(epoll.get(), events, kMaxEpollEvents, timeoutMs);
    if (n < 0) {
      // EINTR: nothing collected, the caller looks again.
      if (errno != EINTR) ReportBug("epoll_wait");
      n = 0;
    }
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == wake.get()) {
        std::uint64_t v;
        [[maybe_unused]] auto r = ::read(fd, &v, sizeof v);
        wakePending = false;
      } else if (fd == timer.get()) {
        std::uint64_t v;
        [[maybe_unused]] auto r = ::read(fd, &v, sizeof v);
        armedFor = Clock::time_point::max();  // expired: nothing armed now
      } else if (signals && fd == signals.get()) {
        OnSignals();
      } else {
        OnSocketEvents(fd, events[i].events);
      }
    }
    CollectDueTimers();
  }

  void PurgeSocketMessages(int fd, const Watch& w) {
    for (auto it = queue.begin(); it != queue.end();) {
      if (it->target == w.target && it->number == w.number && it->wParam == fd) {
        it = queue.erase(it);
      } else {
        ++it;
      }
    }
  }
};

EventLoop& EventLoop::Instance() {
  static EventLoop loop;
  return loop;
}

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {}
EventLoop::~EventLoop() = default;

TargetHandle EventLoop::CreateTarget(MessageHandler handler) {
  const TargetHandle h = impl_->nextTarget++;
  impl_->targets.emplace(h, Target{std::move(handler), true});
  return h;
}

bool EventLoop::DestroyTarget(TargetHandle target) { return impl_->targets.erase(target) > 0; }

bool EventLoop::IsTarget(TargetHandle target) const { return impl_->targets.count(target) > 0; }

void EventLoop::SetVisible(TargetHandle target, bool visible) {
  auto it = impl_->targets.find(target);
  if (it != impl_->targets.end()) it->second.visible = visible;
}

bool EventLoop::IsVisible(TargetHandle target) const {
  auto it = impl_->targets.find(target);
  return it != impl_->targets.end() && it->second.visible;
}

bool EventLoop::Post(TargetHandle target, std::uint32_t number, std::intptr_t wParam, std::intptr_t lParam) {
  if (!IsTarget(target)) return false;
  impl_->Enqueue(Message{target, number, wParam, lParam});
  return true;
}

std::optional<Message> EventLoop::Peek(TargetHandle target, bool remove) {
  if (target == 0 || impl_->IsSignalTarget(target) || impl_->watchesPerTarget.count(target) > 0) {
    ++impl_->driving;
    impl_->Collect(0);
    --impl_->driving;
  }
  auto& q = impl_->queue;
  for (auto it = q.begin(); it != q.end(); ++it) {
    if (target == 0 || it->target == target) {
      Message m = *it;
      if (remove) q.erase(it);
      return m;
    }
  }
  return std::nullopt;
}

bool EventLoop::Get(Message& out) {
  ++impl_->driving;
  impl_->selfDriven = true;
  while (!impl_->quit) {
    if (!impl_->queue.empty()) {
      if (++impl_->sinceCollect >= kFairnessBatch) impl_->Collect(0);
      out = impl_->queue.front();
      impl_->queue.pop_front();
      --impl_->driving;
      return true;
    }
    impl_->Collect(-1);
  }
  --impl_->driving;
  return false;
}

void EventLoop::Dispatch(const Message& message) {
  if (message.target == 0) {
    if (message.number != kTimerMessage) return;
    const auto id = static_cast<TimerId>(message.wParam);
    auto it = impl_->timers.find(id);
    if (it == impl_->timers.end()) return;
    it->second.tickQueued = false;
    // Copy: the callback may kill its own timer.
    TimerCallback cb = it->second.callback;
    if (cb) cb(id);
    return;
  }
  auto it = impl_->targets.find(message.target);
  if (it == impl_->targets.end()) return;
  MessageHandler handler = it->second.handler;  // may destroy its own target
  if (handler) handler(message);
}

int EventLoop::Run() {
  ++impl_->driving;
  Message m;
  while (Get(m)) Dispatch(m);
  --impl_->driving;
  return impl_->quitCode;
}

void EventLoop::Quit(int code) {
  impl_->quit = true;
  impl_->quitCode = code;
  if (impl_->driving == 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(impl_->wake.get(), &one, sizeof one);
  }
}

bool EventLoop::QuitRequested() const { return impl_->quit; }
void EventLoop::ResetQuit() {
  impl_->quit = false;
  impl_->quitCode = 0;
}

int EventLoop::Fd() const { return impl_->epoll.get(); }

int EventLoop::ProcessReady() {
  impl_->outsideDriven = true;
  if (impl_->selfDriven) {
    // From now on the descriptor alone must tell when timers are due.
    impl_->selfDriven = false;
    impl_->armedFor = Clock::time_point::max();
  }
  ++impl_->driving;
  impl_->Collect(0);
  --impl_->driving;
  int dispatched = 0;
  // Bounded, so an outside loop gets its turn. Messages still queued while a
  // handler runs keep the descriptor readable (see outsideDriven).
  std::size_t budget = impl_->queue.size() + 1024;
  while (!impl_->queue.empty() && budget-- > 0 && !impl_->quit) {
    Message m = impl_->queue.front();
    impl_->queue.pop_front();
    if (!impl_->queue.empty()) impl_->Wake();
    Dispatch(m);
    ++dispatched;
  }
  if (!impl_->queue.empty()) impl_->Wake();
  return dispatched;
}

TimerId EventLoop::SetTimer(std::uint32_t periodMs, TimerCallback callback) {
  if (periodMs == 0) periodMs = 1;
  if (periodMs > 0x7FFFFFFFu) return 0;
  TimerId id = impl_->nextTimer++;
  if (impl_->nextTimer == 0) impl_->nextTimer = 1;
  Timer t;
  t.periodMs = periodMs;
  t.callback = std::move(callback);
  t.due = Clock::now() + std::chrono::milliseconds(periodMs);
  impl_->timerOrder.emplace(t.due, id);
  impl_->timers.emplace(id, std::move(t));
  impl_->ArmTimerFd();
  return id;
}

bool EventLoop::KillTimer(TimerId id) {
  auto it = impl_->timers.find(id);
  if (it == impl_->timers.end()) return false;
  impl_->timerOrder.erase({it->second.due, id});
  impl_->timers.erase(it);
  impl_->ArmTimerFd();
  return true;
}

bool EventLoop::TimerExists(TimerId id) const { return impl_->timers.count(id) > 0; }

bool EventLoop::AsyncSelect(int fd, TargetHandle target, std::uint32_t number, std::uint32_t mask) {
  if (fd < 0 || mask == 0) return AsyncSelect(fd, target, number, mask, SocketKind::Stream);
  int type = 0;
  socklen_t len = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) return false;
  SetNonBlocking(fd);
  // Only a socket that asks for accept notifications can be a listener.
  int accepting = 0;
  if (mask & kFdAccept) {
    len = sizeof accepting;
    ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len);
  }
  const SocketKind kind = accepting != 0 ? SocketKind::Listener
                          : type == SOCK_DGRAM ? SocketKind::Datagram
                                               : SocketKind::Stream;
  return AsyncSelect(fd, target, number, mask, kind);
}

bool EventLoop::AsyncSelect(int fd, TargetHandle target, std::uint32_t number, std::uint32_t mask,
                            SocketKind kind) {
  if (fd < 0) {
    errno = EBADF;
    return false;
  }
  auto existing = impl_->watches.find(fd);
  if (mask == 0) {
    if (existing != impl_->watches.end()) Unwatch(fd);
    return true;
  }
  const bool listening = kind == SocketKind::Listener;
  const bool datagram = kind == SocketKind::Datagram;

  if (existing != impl_->watches.end()) {
    Watch& w = existing->second;
    impl_->PurgeSocketMessages(fd, w);
    impl_->CountWatch(w.target, -1);
    impl_->CountWatch(target, +1);
    w.target = target;
    w.number = number;
    w.mask = mask;
    w.listening = listening;
    // Re-registering reports what is due now, as the classic call does.
    impl_->RemoveFromPoll(fd);
    w.readArmed = w.acceptArmed = true;
    w.writePending = true;
  } else {
    Watch w;
    w.target = target;
    w.number = number;
    w.mask = mask;
    w.listening = listening;
    w.datagram = datagram;
    impl_->watches.emplace(fd, w);
    impl_->CountWatch(target, +1);
  }
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLPRI | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  ev.data.fd = fd;
  if (::epoll_ctl(impl_->epoll.get(), EPOLL_CTL_ADD, fd, &ev) != 0) {
    impl_->CountWatch(target, -1);
    impl_->watches.erase(fd);
    return false;
  }
  return true;
}

void EventLoop::Unwatch(int fd, bool closingNext) {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end()) return;
  if (!closingNext) impl_->RemoveFromPoll(fd);
  // Notifications still queued for this descriptor would reach whatever
  // socket the system hands this number to next.
  impl_->PurgeSocketMessages(fd, it->second);
  impl_->CountWatch(it->second.target, -1);
  impl_->watches.erase(it);
}

bool EventLoop::PauseRead(int fd, bool paused) {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end()) return false;
  Watch& w = it->second;
  if (w.readPaused == paused) return true;
  w.readPaused = paused;
  if (!paused && !w.listening) {
    // Readiness that came while paused was swallowed by the edge: look now.
    w.readArmed = false;
    impl_->PostReadOrClose(fd, w);
  }
  return true;
}

void EventLoop::MarkConnecting(int fd) {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end()) return;
  it->second.connecting = true;
  it->second.writePending = true;
}

long EventLoop::Recv(int fd, void* buffer, std::size_t length, int flags) {
  const long n = ::recv(fd, buffer, length, flags | MSG_DONTWAIT);
  const int saved = errno;
  auto it = impl_->watches.find(fd);
  if (it != impl_->watches.end() && (flags & MSG_PEEK) == 0) {
    Watch& w = it->second;
    w.readArmed = true;
    char probe;
    if (n > 0 && static_cast<std::size_t>(n) == length) {
      // The buffer was filled: more may be waiting.
      impl_->PostReadOrClose(fd, w);
    } else if (n > 0 && w.urgent && !w.datagram) {
      // Stopped at an urgent mark, or everything was read.
      const long more = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
      w.urgent = more > 0;
      if (w.urgent) {
        impl_->PostReadOrClose(fd, w);
      } else if (w.peerClosed || w.errored) {
        if (more == 0 && !w.errored) {
          w.ended = true;
          w.inputSeen = false;
        }
        impl_->PostReadOrClose(fd, w);
      } else {
        w.inputSeen = false;
      }
    } else if (n == 0 && length > 0 && !w.datagram) {
      w.peerClosed = true;
      w.ended = true;
      w.inputSeen = false;
      impl_->PostReadOrClose(fd, w);
    } else if (n > 0 && w.peerClosed && !w.errored && !w.datagram) {
      // A short read after the peer's close took everything it sent.
      w.ended = true;
      w.inputSeen = false;
      impl_->PostReadOrClose(fd, w);
    } else if (n < 0 && saved != EAGAIN && saved != EWOULDBLOCK && saved != EINTR) {
      w.errored = true;
      impl_->PostReadOrClose(fd, w);
    } else if (w.peerClosed || w.errored) {
      impl_->PostReadOrClose(fd, w);
    } else if (n >= 0 || saved == EAGAIN || saved == EWOULDBLOCK) {
      // Everything waiting was taken: the next arrival is a new edge.
      w.inputSeen = false;
    }
  }
  errno = saved;
  return n;
}

bool EventLoop::InputMayWait(int fd) const {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end()) return true;
  const Watch& w = it->second;
  return w.errored || !w.ended;
}

bool EventLoop::PeerClosed(int fd) const {
  auto it = impl_->watches.find(fd);
  return it != impl_->watches.end() && it->second.peerClosed;
}

long EventLoop::RecvFrom(int fd, void* buffer, std::size_t length, void* address, unsigned* addressLength) {
  socklen_t len = addressLength ? *addressLength : 0;
  const long n = ::recvfrom(fd, buffer, length, MSG_DONTWAIT, static_cast<sockaddr*>(address),
                            addressLength ? &len : nullptr);
  const int saved = errno;
  if (addressLength) *addressLength = len;
  auto it = impl_->watches.find(fd);
  if (it != impl_->watches.end()) {
    Watch& w = it->second;
    w.readArmed = true;
    // Datagrams: another one may be queued whatever the size of this one.
    char probe;
    if (::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) >= 0) impl_->PostReadOrClose(fd, w);
  }
  errno = saved;
  return n;
}

namespace {
void NoteSend(std::unordered_map<int, Watch>& watches, int fd, long n, std::size_t length, int err) {
  if ((n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) || (n >= 0 && static_cast<std::size_t>(n) < length)) {
    auto it = watches.find(fd);
    if (it != watches.end()) it->second.writePending = true;
  }
}
}  // namespace

long EventLoop::Send(int fd, const void* buffer, std::size_t length) {
  const long n = ::send(fd, buffer, length, MSG_DONTWAIT | MSG_NOSIGNAL);
  const int saved = errno;
  NoteSend(impl_->watches, fd, n, length, saved);
  errno = saved;
  return n;
}

long EventLoop::SendV(int fd, const ::iovec* vectors, int count) {
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) total += vectors[i].iov_len;
  msghdr msg{};
  msg.msg_iov = const_cast<::iovec*>(vectors);
  msg.msg_iovlen = static_cast<std::size_t>(count);
  const long n = ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
  const int saved = errno;
  NoteSend(impl_->watches, fd, n, total, saved);
  errno = saved;
  return n;
}

long EventLoop::SendFile(int fd, int fileFd, std::int64_t* offset, std::size_t length) {
  off_t off = static_cast<off_t>(*offset);
  const long n = ::sendfile(fd, fileFd, &off, length);
  const int saved = errno;
  if (n > 0) *offset = off;
  NoteSend(impl_->watches, fd, n, length, saved);
  errno = saved;
  return n;
}

long EventLoop::SendTo(int fd, const void* buffer, std::size_t length, const void* address, unsigned addressLength) {
  const long n = ::sendto(fd, buffer, length, MSG_DONTWAIT | MSG_NOSIGNAL, static_cast<const sockaddr*>(address),
                          addressLength);
  const int saved = errno;
  NoteSend(impl_->watches, fd, n, length, saved);
  errno = saved;
  return n;
}

int EventLoop::Accept(int fd, void* address, unsigned* addressLength) {
  socklen_t len = addressLength ? *addressLength : 0;
  const int s = ::accept4(fd, static_cast<sockaddr*>(address), addressLength ? &len : nullptr,
                          SOCK_NONBLOCK | SOCK_CLOEXEC);
  const int saved = errno;
  if (addressLength) *addressLength = len;
  auto it = impl_->watches.find(fd);
  if (it != impl_->watches.end()) {
    Watch& w = it->second;
    w.acceptArmed = true;
    if (s >= 0) {
      // Another connection may wait behind this one; the edge for it may
      // already be spent. A look that finds none answers "would block".
      w.acceptArmed = false;
      impl_->PostSocket(fd, w, kFdAccept, 0);
    }
  }
  errno = saved;
  return s;
}

void EventLoop::WriteBlocked(int fd) {
  auto it = impl_->watches.find(fd);
  if (it != impl_->watches.end()) it->second.writePending = true;
}

bool EventLoop::WatchTerminationSignals(TargetHandle target, std::uint32_t number) {
  return impl_->WatchSignals({SIGTERM, SIGINT}, target, number);
}

bool EventLoop::WatchHangupSignal(TargetHandle target, std::uint32_t number) {
  return impl_->WatchSignals({SIGHUP}, target, number);
}

std::size_t EventLoop::PendingCount() const { return impl_->queue.size(); }

}  // namespace platform
