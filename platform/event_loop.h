// The process's single event loop: message targets ("windows"), one FIFO of
// posted messages, periodic timers and asynchronous socket notifications.
//
// Everything runs on the thread that uses the loop; nothing here is
// thread-safe and nothing needs to be. The whole loop is one pollable
// descriptor (fd()), so a GUI toolkit's loop can drive it by watching that
// descriptor and calling processReady().
//
// Re-entrancy rules:
//  - A handler may post, peek, dispatch, create/destroy targets, set/kill
//    timers and change socket registrations, including its own.
//  - Messages posted to a target that is destroyed before dispatch are
//    dropped at dispatch time.
//  - A timer killed (even from its own tick) never ticks again.
#pragma once

#include "platform/export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

struct iovec;

namespace platform {

using TargetHandle = std::int32_t;   // 0 is never a valid target
using TimerId = std::uint32_t;       // 0 is never a valid timer id

struct Message {
  TargetHandle target = 0;  // 0: thread message (timer ticks)
  std::uint32_t number = 0;
  std::intptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

using MessageHandler = std::function<void(const Message&)>;
using TimerCallback = std::function<void(TimerId)>;

// Message numbers the loop itself produces.
inline constexpr std::uint32_t kTimerMessage = 0x0113;        // thread message, wParam = timer id
inline constexpr std::uint32_t kSocketMessage = 1013;         // conventional socket notification number

// Socket notification codes (low 16 bits of lParam); the error number is in
// the high 16 bits.
enum SocketEvent : std::uint32_t {
  kFdRead = 1,
  kFdWrite = 2,
  kFdOob = 4,
  kFdAccept = 8,
  kFdConnect = 16,
  kFdClose = 32,
};

inline constexpr std::intptr_t MakeSelectLParam(std::uint32_t event, std::uint32_t error) {
  return static_cast<std::intptr_t>((error << 16) | (event & 0xFFFFu));
}
inline constexpr std::uint32_t SelectEvent(std::intptr_t lParam) {
  return static_cast<std::uint32_t>(lParam) & 0xFFFFu;
}
inline constexpr std::uint32_t SelectError(std::intptr_t lParam) {
  return (static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFFu;
}

class VELTO_PLATFORM_EXPORT EventLoop {
 public:
  // The one loop of the process (lives in the shared platform library, so the
  // program and the component see the same instance).
  static EventLoop& Instance();

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // ---- message targets --------------------------------------------------
  TargetHandle CreateTarget(MessageHandler handler);
  // Drops the target; its queued messages are discarded when they come up.
  bool DestroyTarget(TargetHandle target);
  bool IsTarget(TargetHandle target) const;
  // Visibility only matters to callers that filter on it (the message pump).
  void SetVisible(TargetHandle target, bool visible);
  bool IsVisible(TargetHandle target) const;

  // ---- posting and retrieving ---------------------------------------------
  bool Post(TargetHandle target, std::uint32_t number, std::intptr_t wParam, std::intptr_t lParam);
  // Next message for `target` (0 = any message, including timer ticks);
  // looks at ready descriptors first without blocking.
  std::optional<Message> Peek(TargetHandle target, bool remove);
  // Blocks until a message is available; false once Quit was called.
  bool Get(Message& out);
  // Calls the target's handler (or the timer's callback for timer ticks).
  void Dispatch(const Message& message);
  // Get + Dispatch until Quit; returns the quit code.
  int Run();
  void Quit(int code = 0);
  bool QuitRequested() const;
  // Clears a previous Quit so the loop can run again (tests).
  void ResetQuit();

  // For an outside loop (Qt): readable when anything is due.
  int Fd() const;
  // Collect ready descriptors and due timers without blocking, then dispatch
  // every message queued at that moment. Returns the number dispatched.
  int ProcessReady();

  // ---- timers ---------------------------------------------------------------
  // Periodic timer; returns its nonzero id, or 0 when the period is invalid.
  TimerId SetTimer(std::uint32_t periodMs, TimerCallback callback);
  bool KillTimer(TimerId id);
  bool TimerExists(TimerId id) const;

  // ---- sockets --------------------------------------------------------------
  // Asks for notifications on `fd` as message `number` to `target`, for the
  // events in `mask` (SocketEvent bits). mask 0 cancels. The descriptor is
  // made non-blocking. Like the classic asynchronous select, events that are
  // already due are posted at once.
  bool AsyncSelect(int fd, TargetHandle target, std::uint32_t number, std::uint32_t mask);
  // The same for a socket whose kind the caller knows and which it already
  // made non-blocking: spares asking the system.
  enum class SocketKind { Stream, Datagram, Listener };
  bool AsyncSelect(int fd, TargetHandle target, std::uint32_t number, std::uint32_t mask, SocketKind kind);
  // Forgets a descriptor (call before closing it). `closingNext` says the
  // caller closes it at once, which removes it from the poll set anyway.
  void Unwatch(int fd, bool closingNext = false);
  // Flow control for a watched stream socket. While paused, read readiness
  // and the peer's clean close are not posted (nor lost); a failure of the
  // connection is still posted at once as the close event with its error.
  // Unpausing posts a read (or the close, when nothing is left to read) if
  // either may be waiting. False for a descriptor that is not watched.
  bool PauseRead(int fd, bool paused);
  // Marks a watched socket whose non-blocking connect is in progress: its
  // completion is posted as the connect event (error in the high bits),
  // followed by write readiness when it succeeded.
  void MarkConnecting(int fd);

  // Socket calls that keep the notification re-enabling rules: a read is
  // re-armed by the next receive, write readiness is posted again only after
  // a send that would have blocked, accept is re-armed by the next accept.
  // They return the system call's result and leave errno set.
  long Recv(int fd, void* buffer, std::size_t length, int flags = 0);
  long RecvFrom(int fd, void* buffer, std::size_t length, void* address, unsigned* addressLength);
  long Send(int fd, const void* buffer, std::size_t length);
  long SendV(int fd, const ::iovec* vectors, int count);
  long SendFile(int fd, int fileFd, std::int64_t* offset, std::size_t length);
  long SendTo(int fd, const void* buffer, std::size_t length, const void* address, unsigned addressLength);
  int Accept(int fd, void* address, unsigned* addressLength);
  // What the loop knows without asking the system. InputMayWait is false
  // once a receive has found the end of the stream (nothing can follow it).
  // True for a descriptor that is not watched.
  bool InputMayWait(int fd) const;
  // The peer's close (or a hang-up) has been seen on a watched socket.
  bool PeerClosed(int fd) const;
  // Tells the loop that a caller's own write to `fd` would have blocked.
  void WriteBlocked(int fd);

  // ---- signals ----------------------------------------------------------------
  // SIGTERM and SIGINT become message `number` (wParam = signal number) to
  // `target`; target 0 restores the default disposition.
  bool WatchTerminationSignals(TargetHandle target, std::uint32_t number);
  // The same for SIGHUP (the administrator's "read your files again").
  bool WatchHangupSignal(TargetHandle target, std::uint32_t number);

  // Number of messages waiting (tests and diagnostics).
  std::size_t PendingCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
