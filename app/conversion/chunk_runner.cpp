// The dynamic chunk split of the passes: a shared counter hands out chunks, a table records which have
// completed, and the calling thread reports the completed prefix and gathers the first failure.
#include "app/conversion/chunk_runner.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kavrimo {
namespace {

class ChunkRun {
 public:
  ChunkRun(std::int64_t count, const std::function<void(std::int64_t, int)>& work,
           const std::function<void(std::int64_t)>& done)
      : count_(count), limit_(count), work_(work), done_(done), completed_(static_cast<std::size_t>(count)) {}

  // A helper thread: takes chunks until none are left.
  void Work(int worker) {
    std::int64_t chunk;
    while (Take(chunk)) Run(chunk, worker);
  }

  // The calling thread: takes chunks too, reports the completed prefix after each, then waits for the
  // helpers' last chunks and reports them.
  void WorkAndReport() {
    std::int64_t chunk;
    while (Take(chunk)) {
      Run(chunk, 0);
      Report();
    }
    std::unique_lock lock(mutex_);
    for (;;) {
      lock.unlock();
      Report();
      lock.lock();
      if (running_ == 0 && !Reportable()) break;
      changed_.wait(lock, [this] { return running_ == 0 || Reportable(); });
    }
  }

  void RethrowFirstFailure() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  bool Take(std::int64_t& chunk) {
    const std::lock_guard lock(mutex_);
    if (next_ >= limit_) return false;
    chunk = next_++;
    ++running_;
    return true;
  }

  void Run(std::int64_t chunk, int worker) {
    std::exception_ptr failure;
    try {
      work_(chunk, worker);
    } catch (...) {
      failure = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    --running_;
    if (failure) {
      Fail(2 * chunk, failure);
    } else {
      completed_[static_cast<std::size_t>(chunk)] = true;
    }
    changed_.notify_all();
  }

  // Records a failure at a place in the one-thread order: 2 * chunk for the work of chunk, 2 * chunk + 1
  // for its report. Called with the mutex held.
  void Fail(std::int64_t place, std::exception_ptr failure) {
    if (place < failure_place_) {
      failure_place_ = place;
      failure_ = std::move(failure);
    }
    limit_ = std::min(limit_, place / 2 + 1);  // chunks after the failing one need not start
  }

  // Whether the next chunk to report has completed and comes before any failure. Mutex held.
  bool Reportable() const {
    return reported_ < count_ && 2 * reported_ < failure_place_ && completed_[static_cast<std::size_t>(reported_)];
  }

  void Report() {
    for (;;) {
      std::int64_t chunk;
      {
        const std::lock_guard lock(mutex_);
        if (!Reportable()) return;
        chunk = reported_++;
      }
      try {
        done_(chunk);
      } catch (...) {
        const std::lock_guard lock(mutex_);
        Fail(2 * chunk + 1, std::current_exception());
        return;
      }
    }
  }

  const std::int64_t count_;
  std::int64_t limit_;  // chunks from here on are not started
  const std::function<void(std::int64_t, int)>& work_;
  const std::function<void(std::int64_t)>& done_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t next_ = 0;
  std::int64_t running_ = 0;
  std::int64_t reported_ = 0;  // touched by the calling thread only, read under the mutex
  std::vector<bool> completed_;
  std::int64_t failure_place_ = std::numeric_limits<std::int64_t>::max();
  std::exception_ptr failure_;
};

}  // namespace

void RunChunks(std::int64_t count, int workers, const std::function<void(std::int64_t, int)>& work,
               const std::function<void(std::int64_t)>& done) {
  if (count <= 0) return;
  ChunkRun run(count, work, done);
  const std::int64_t helpers = std::min<std::int64_t>(workers, count) - 1;
  {
    std::vector<std::jthread> pool;  // joined when this block ends, also when an exception leaves it
    for (int worker = 1; worker <= helpers; ++worker) {
      try {
        pool.emplace_back([&run, worker] { run.Work(worker); });
      } catch (const std::system_error&) {
        break;  // carry on with the threads that did start
      }
    }
    run.WorkAndReport();
  }
  run.RethrowFirstFailure();
}

}  // namespace kavrimo
