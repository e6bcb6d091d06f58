#include "platform/worker.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace platform {

namespace {
constexpr std::uint32_t kWakeMessage = 1013;

// Blocks every signal in the calling thread while it lives, so a thread
// started meanwhile never takes one: the process's signals belong to the
// loop's signalfd, and one delivered to the worker would end the process.
class AllSignalsBlocked {
 public:
  AllSignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    blocked_ = ::pthread_sigmask(SIG_BLOCK, &all, &previous_) == 0;
  }
  ~AllSignalsBlocked() {
    if (blocked_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  AllSignalsBlocked(const AllSignalsBlocked&) = delete;
  AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

 private:
  sigset_t previous_{};
  bool blocked_ = false;
};
}  // namespace

BackgroundWorker::BackgroundWorker(EventLoop& loop) : loop_(loop) {
  int pair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return;
  wakeRead_ = UniqueFd(pair[0]);
  wakeWrite_ = UniqueFd(pair[1]);
  target_ = loop_.CreateTarget([this](const Message&) { Deliver(); });
  if (!loop_.AsyncSelect(wakeRead_.get(), target_, kWakeMessage, kFdRead, EventLoop::SocketKind::Stream)) {
    loop_.DestroyTarget(target_);
    target_ = 0;
    return;
  }
  const AllSignalsBlocked noSignalsInWorker;
  thread_ = std::thread([this] { Loop(); });
}

BackgroundWorker::~BackgroundWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (target_ != 0) {
    loop_.Unwatch(wakeRead_.get());
    loop_.DestroyTarget(target_);
  }
}

void BackgroundWorker::Run(std::function<bool()> job, std::function<void(bool)> done) {
  if (!Started()) {
    const bool result = job();
    if (done) done(result);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(Job{std::move(job), std::move(done), false});
  }
  wake_.notify_one();
}

void BackgroundWorker::Loop() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job.result = job.work();
    job.work = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      finished_.push_back(std::move(job));
    }
    // One byte says "look"; a full pair means the loop already has one.
    const char byte = 1;
    while (::send(wakeWrite_.get(), &byte, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
  }
}

void BackgroundWorker::Deliver() {
  char drain[64];
  while (loop_.Recv(wakeRead_.get(), drain, sizeof drain) > 0) {
  }
  std::deque<Job> ready;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready.swap(finished_);
  }
  for (Job& job : ready) {
    if (job.done) job.done(job.result);
  }
}

}  // namespace platform
