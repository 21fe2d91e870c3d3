// The chunk runner beneath the passes: every chunk once, reports in order on the calling thread, worker
// numbers within the tables sized for them, dynamic shares, and the first failure in one-thread order.
#include "app/conversion/chunk_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/conversion/passes.h"
#include "tests/support/files.h"

namespace kavrimo {
namespace {

using testing_support::MessageOf;

// Threads asked for, chunks, and the workers there are (PassOptions::Workers, and the threads RunChunks
// starts): at least one, never more than the chunks.
TEST(ChunkRunner, RunsEveryChunkOnceAndReportsItInOrderOnTheCallingThread) {
  const struct {
    int threads;
    std::int64_t count;
    int workers;
  } cases[] = {{1, 53, 1}, {2, 53, 2}, {3, 53, 3}, {7, 53, 7}, {7, 3, 3}, {0, 5, 1}, {-2, 5, 1}, {4, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads, " + std::to_string(c.count) + " chunks");
    EXPECT_EQ(PassOptions{c.threads}.Workers(c.count), c.workers);
    std::vector<std::int64_t> reported;
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(c.count));
    const auto caller = std::this_thread::get_id();
    const auto work = [&](std::int64_t chunk, int worker) {
      EXPECT_TRUE(worker >= 0 && worker < c.workers) << worker;
      ++runs[static_cast<std::size_t>(chunk)];
    };
    RunChunks(c.count, c.threads, work, [&](std::int64_t chunk) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      reported.push_back(chunk);
    });
    ASSERT_EQ(reported.size(), static_cast<std::size_t>(c.count));
    for (std::size_t i = 0; i < reported.size(); ++i) {
      EXPECT_TRUE(reported[i] == static_cast<std::int64_t>(i) && runs[i] == 1) << i;
    }
  }
}

TEST(ChunkRunner, SlowThreadDoesNotHoldTheOthersBack) {
  std::atomic<int> by_slow{0}, by_others{0};
  RunChunks(
      200, 2,
      [&](std::int64_t, int worker) {
        ++(worker == 1 ? by_slow : by_others);
        if (worker == 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      },
      [](std::int64_t) {});
  EXPECT_EQ(by_slow + by_others, 200);
  EXPECT_LT(by_slow.load(), 20);  // the fast thread took the rest instead of waiting for a fixed half
}

// When work or a report fails, the one-thread order decides: the lowest failing chunk, where a failing
// report comes after its chunk's work and before the next chunk's. Every thread has stopped by then, and
// no chunk is reported from the failing one on. Chunk 17 fails late, after 41 and 42 may have failed,
// while chunk 18 is still at work.
TEST(ChunkRunner, RethrowsTheFirstFailureInOrderAfterAllThreadsStopped) {
  // clang-format off
  const struct { std::vector<std::int64_t> failing_work; std::int64_t failing_report; const char* message; } cases[] = {
      {{17, 41, 42}, 99, "chunk 17"}, {{6}, 5, "report 5"}, {{5}, 5, "chunk 5"}, {{4}, 5, "chunk 4"}};
  // clang-format on
  for (const auto& c : cases) {
    for (const int threads : {1, 2, 4}) {
      for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(c.message + (", " + std::to_string(threads)) + " threads, round " + std::to_string(round));
        std::atomic<int> active{0};
        std::vector<std::int64_t> reported;
        const auto work = [&](std::int64_t chunk, int) {
          ++active;
          if (chunk == 17 || chunk == 18) std::this_thread::sleep_for(std::chrono::milliseconds(2));
          --active;
          if (std::ranges::count(c.failing_work, chunk) != 0) {
            throw std::runtime_error("chunk " + std::to_string(chunk));
          }
        };
        const auto report = [&](std::int64_t chunk) {
          if (chunk == c.failing_report) throw std::runtime_error("report " + std::to_string(chunk));
          reported.push_back(chunk);
        };
        EXPECT_EQ(MessageOf([&] { RunChunks(60, threads, work, report); }), c.message);
        EXPECT_EQ(active.load(), 0);
        ASSERT_LE(reported.size(), static_cast<std::size_t>(std::min(c.failing_work[0], c.failing_report)));
        for (std::size_t i = 0; i < reported.size(); ++i) EXPECT_EQ(reported[i], static_cast<std::int64_t>(i));
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo
