#include "update/finishing_pool.h"

#include "update/archive.h"

namespace launcher {
namespace {

// Holds an exclusive slim lock for a scope.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace

FinishingPool::FinishingPool(unsigned workers, std::size_t queueBound)
    : queueBound_(queueBound) {
  for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

FinishingPool::~FinishingPool() {
  {
    ExclusiveLock lock(lock_);
    stopping_ = true;
  }
  ::WakeAllConditionVariable(&queued_);
  for (std::thread& worker : workers_) worker.join();
}

void FinishingPool::Submit(std::size_t ticket, Job job) {
  {
    ExclusiveLock lock(lock_);
    while (queue_.size() >= queueBound_) ::SleepConditionVariableSRW(&taken_, &lock_, INFINITE, 0);
    queue_.emplace_back(ticket, std::move(job));
  }
  ::WakeConditionVariable(&queued_);
}

std::vector<FinishingPool::Failure> FinishingPool::Drain() {
  ExclusiveLock lock(lock_);
  while (!queue_.empty() || running_ != 0) ::SleepConditionVariableSRW(&taken_, &lock_, INFINITE, 0);
  std::vector<Failure> failures;
  failures.swap(failures_);
  return failures;
}

void FinishingPool::Work() {
  for (;;) {
    std::pair<std::size_t, Job> next;
    {
      ExclusiveLock lock(lock_);
      while (!stopping_ && queue_.empty()) ::SleepConditionVariableSRW(&queued_, &lock_, INFINITE, 0);
      if (queue_.empty()) return;  // stopping, and nothing left
      next = std::move(queue_.front());
      queue_.pop_front();
      ++running_;
    }
    ::WakeAllConditionVariable(&taken_);
    // A job that throws (out of memory) counts as a failed write.
    int result = kArchiveWriteFailed;
    try {
      result = next.second();
    } catch (...) {
    }
    {
      ExclusiveLock lock(lock_);
      --running_;
      if (result != kArchiveOk) failures_.push_back(Failure{next.first, result});
    }
    ::WakeAllConditionVariable(&taken_);
  }
}

}  // namespace launcher
