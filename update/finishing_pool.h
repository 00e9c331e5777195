// Worker threads that finish what the main thread has written: a file's
// times and attributes and its flush to disk. Done beside the main thread,
// these file system round trips overlap with the reading and inflating of
// the next items. Workers never log or touch the archive: each job gives back
// a result, which the main thread reports.
#pragma once

#include <windows.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace launcher {

class FinishingPool {
 public:
  // A job gives an archive result code; ticket says whose it is.
  using Job = std::function<int()>;
  struct Failure {
    std::size_t ticket;
    int result;
  };

  // At least one worker and a queue of at least one job.
  FinishingPool(unsigned workers, std::size_t queueBound);
  ~FinishingPool();
  FinishingPool(const FinishingPool&) = delete;
  FinishingPool& operator=(const FinishingPool&) = delete;

  // Queues a job, waiting while the queue is full.
  void Submit(std::size_t ticket, Job job);
  // Waits until every job submitted so far has run; gives the failures.
  std::vector<Failure> Drain();

 private:
  void Work();

  // Slim locks and condition variables: they wait in the process itself,
  // where a kernel event would cost Wine a server round trip per job.
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE queued_ = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE taken_ = CONDITION_VARIABLE_INIT;
  std::deque<std::pair<std::size_t, Job>> queue_;
  std::vector<Failure> failures_;
  std::size_t running_ = 0;
  std::size_t queueBound_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace launcher
