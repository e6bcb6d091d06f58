// One background thread for work that may block, such as the system's
// password check. Jobs run one after another on that thread and must touch
// nothing of the program's state: they get copies of what they need and
// return a result, which comes back on the event loop.
//
// The thread wakes the loop through a socket pair watched like any other
// socket, so the loop's own rules stay single-threaded.
#pragma once

#include "platform/event_loop.h"
#include "platform/export.h"
#include "platform/fd.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class VELTO_PLATFORM_EXPORT BackgroundWorker {
 public:
  explicit BackgroundWorker(EventLoop& loop);
  // Waits for the job that runs (a job that never ends would hold the exit);
  // jobs not begun are dropped and their `done` never runs.
  ~BackgroundWorker();
  BackgroundWorker(const BackgroundWorker&) = delete;
  BackgroundWorker& operator=(const BackgroundWorker&) = delete;

  // False when the thread or its wake-up could not be made (then Run
  // runs each job in place).
  bool Started() const { return thread_.joinable(); }

  // Runs `job` on the thread; `done(result)` runs later on the loop.
  void Run(std::function<bool()> job, std::function<void(bool)> done);

 private:
  struct Job {
    std::function<bool()> work;
    std::function<void(bool)> done;
    bool result = false;
  };
  void Loop();
  void Deliver();

  EventLoop& loop_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  TargetHandle target_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;      // waiting for the thread
  std::deque<Job> finished_;  // waiting for the loop
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace platform
