// The interruption handlers, in forked children (they change the process's signal dispositions and
// end it): what each signal removes and the status it ends with, signals ignored at start, the table
// of registered files, and holds that make a handler wait.
#include "runtime/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/temporary_output.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace kavrimo {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string kEarlier = "the earlier output";

std::string EndedWith(int status) { return "child failed: exit " + std::to_string(status) + " "; }

class InterruptTest : public testing::Test {
 protected:
  std::string File(const std::string& name) const { return dir_.File(name); }
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> names = ListFolder(dir_.Path());
    std::erase_if(names, [](const std::string& name) { return !IsTemporaryOutputName(name); });
    return names;
  }
  TempDir dir_;
};

// A signal that interrupts removes every registered file (a TemporaryOutput's among them) but none
// unregistered, and ends the process with 128 + its number; the earlier output stays. One ignored at
// start stays ignored, and SIGXFSZ is ignored: the process goes on.
TEST_F(InterruptTest, SignalsRemoveTheRegisteredFilesAndEndWithTheirStatus) {
  const struct {
    const char* name;
    int signal;
    bool ignored_at_start;
    std::string report;
  } cases[] = {
      {"SIGINT", SIGINT, false, EndedWith(128 + SIGINT)},
      {"SIGTERM", SIGTERM, false, EndedWith(128 + SIGTERM)},
      {"SIGHUP", SIGHUP, false, EndedWith(128 + SIGHUP)},
      {"SIGPIPE", SIGPIPE, false, EndedWith(128 + SIGPIPE)},
      {"SIGHUP ignored at start", SIGHUP, true, "went on"},
      {"SIGPIPE ignored at start", SIGPIPE, true, "went on"},
      {"SIGXFSZ", SIGXFSZ, false, "went on"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool interrupted = c.report != "went on";
    WriteText(File("registered"), "r");
    WriteText(File("unregistered"), "u");
    WriteText(File("out.IMG"), kEarlier);
    const std::string report = InChild(
        [&] {
          if (c.ignored_at_start) ::signal(c.signal, SIG_IGN);
          InstallInterruptHandlers();
          if (RegisterTemporaryFile(File("registered")) < 0) return std::string("not registered");
          UnregisterTemporaryFile(RegisterTemporaryFile(File("unregistered")));
          TemporaryOutput output(File("out.IMG"));
          output.Reserve();
          output.Build([&] { WriteText(output.Path(), "half an image"); });
          if (Temporaries().size() != 1) return std::string("no temporary file");
          ::raise(c.signal);
          return std::string("went on");
        },
        false, 20);
    EXPECT_EQ(report, c.report);
    EXPECT_EQ(fs::exists(File("registered")), !interrupted);
    EXPECT_TRUE(fs::exists(File("unregistered")));
    EXPECT_EQ(ReadText(File("out.IMG")), kEarlier);
    EXPECT_EQ(Temporaries(), std::vector<std::string>{});
  }
}

// Once an output is committed, SIGTERM under AfterCommit::kFinish lets the command finish with its own
// status, unless more is written after it (the next output of a batch) or it comes again; a window's
// handlers (kInterrupt) end the process as at any other time, and so does a signal before any commit.
TEST_F(InterruptTest, SignalAfterACommitLetsACommandLineFinish) {
  const struct {
    const char* name;
    AfterCommit after_commit;
    bool commit;
    int signals;
    bool register_after;
    std::string report;
  } cases[] = {
      {"finishing after the commit", AfterCommit::kFinish, true, 1, false, "went on"},
      {"another output begun", AfterCommit::kFinish, true, 1, true, EndedWith(128 + SIGTERM)},
      {"asked twice", AfterCommit::kFinish, true, 2, false, ""},  // ended at once, status 0, nothing said
      {"a window", AfterCommit::kInterrupt, true, 1, false, EndedWith(128 + SIGTERM)},
      {"nothing committed", AfterCommit::kFinish, false, 1, false, EndedWith(128 + SIGTERM)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(File("out.IMG"), kEarlier);
    WriteText(File("next"), "n");
    const std::string report = InChild(
        [&] {
          InstallInterruptHandlers(c.after_commit);
          TemporaryOutput output(File("out.IMG"));
          output.Reserve();
          output.Build([&] { WriteText(output.Path(), "the new image"); });
          if (c.commit) output.Commit();
          for (int i = 0; i < c.signals; ++i) ::raise(SIGTERM);
          if (c.register_after) RegisterTemporaryFile(File("next"));
          return std::string("went on");
        },
        false, 20);
    EXPECT_EQ(report, c.report);
    EXPECT_EQ(ReadText(File("out.IMG")), c.commit ? "the new image" : kEarlier);
    EXPECT_EQ(fs::exists(File("next")), !c.register_after);  // removed as the interruption's
    EXPECT_EQ(Temporaries(), std::vector<std::string>{});
  }
}

// The table takes no path it cannot hold whole and no file once every slot is taken; a slot given
// back is used again, and an interruption then removes exactly the files registered.
TEST_F(InterruptTest, FullTableRefusesMoreAndAFreedSlotIsUsedAgain) {
  const std::string report = InChild(
      [&] {
        InstallInterruptHandlers();
        if (RegisterTemporaryFile(File(std::string(5000, 'x'))) != -1) return std::string("a long path registered");
        std::set<int> slots;
        int files = 0;
        for (; files < 10000; ++files) {
          WriteText(File("f" + std::to_string(files)), "left");
          const int slot = RegisterTemporaryFile(File("f" + std::to_string(files)));
          if (slot < 0) break;
          if (!slots.insert(slot).second) return "slot " + std::to_string(slot) + " given twice";
        }
        UnregisterTemporaryFile(*slots.begin());  // f0's
        WriteText(File("again"), "left");
        if (RegisterTemporaryFile(File("again")) != *slots.begin()) return std::string("the freed slot not used");
        WriteText(File("count"), std::to_string(files));
        ::raise(SIGTERM);
        return std::string("went on");
      },
      false, 20);
  EXPECT_EQ(report, EndedWith(128 + SIGTERM));
  const int files = std::stoi(ReadText(File("count")));
  ASSERT_GT(files, 1);
  ASSERT_LT(files, 10000);
  std::vector<std::string> left = {"count", "f0", "f" + std::to_string(files)};  // unregistered, refused
  std::sort(left.begin(), left.end());
  EXPECT_EQ(ListFolder(dir_.Path()), left);
}

// A hold on this thread keeps the signal pending until it ends; a hold on another thread makes the
// handler wait. Either way the file held is finished before the registered file goes and the process
// ends.
TEST_F(InterruptTest, HoldDelaysTheInterruptionUntilItEnds) {
  for (const bool other_thread : {false, true}) {
    SCOPED_TRACE(other_thread ? "on another thread" : "on this thread");
    WriteText(File("registered"), "r");
    fs::remove(File("finished"));
    const std::string report = InChild(
        [&] {
          InstallInterruptHandlers();
          RegisterTemporaryFile(File("registered"));
          std::atomic<bool> holding{false};
          const auto hold = [&] {
            const InterruptHold held;
            holding = true;
            if (!other_thread) ::kill(::getpid(), SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the handler, if any, runs meanwhile
            WriteText(File("finished"), "whole");
          };
          if (!other_thread) {
            hold();
          } else {
            std::thread holder(hold);
            while (!holding) std::this_thread::yield();
            ::kill(::getpid(), SIGTERM);  // handled on this thread, which does not block it
            holder.join();
          }
          return std::string("went on");
        },
        false, 20);
    EXPECT_EQ(report, EndedWith(128 + SIGTERM));
    EXPECT_EQ(ReadText(File("finished")), "whole");
    EXPECT_FALSE(fs::exists(File("registered")));
  }
}

}  // namespace
}  // namespace kavrimo
