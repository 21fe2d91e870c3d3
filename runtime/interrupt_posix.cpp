// The interruption handlers and the table of temporary files they remove.
#include "runtime/interrupt.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

namespace kavrimo {
namespace {

constexpr int kSlots = 64;
constexpr std::size_t kMaxPath = 4096;
// SIGPIPE ends the process as it would by default (status 128 + 13, what `| head` expects of a
// command), but only after the handler has removed what is half-written.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// A slot is free (0), being filled or emptied (1), or holds a path to remove (2).
struct Slot {
  std::atomic<int> state{0};
  char path[kMaxPath];
};
std::array<Slot, kSlots> g_slots;

std::atomic<int> g_holds{0};
std::atomic<bool> g_stopping{false};
std::atomic<bool> g_finish_after_commit{false};
std::atomic<bool> g_committed{false};  // outputs were committed and no temporary file registered since
std::atomic<int> g_waiting{0};         // a signal put off since a commit (kFinish), or 0

// Holds finish first: at most a minute, in steps of 10 ms.
void WaitForHolds() {
  const timespec step{0, 10'000'000};
  for (int waited = 0; g_holds.load() > 0 && waited < 6000; ++waited) ::nanosleep(&step, nullptr);
}

bool AnyRegistered() {
  for (const Slot& slot : g_slots) {
    if (slot.state.load() != 0) return true;
  }
  return false;
}

// Removes the registered files and ends the process as interrupted by signal.
[[noreturn]] void EndInterrupted(int signal) {
  g_stopping.store(true);
  WaitForHolds();
  for (Slot& slot : g_slots) {
    if (slot.state.load() == 2) ::unlink(slot.path);
  }
  ::_exit(128 + signal);
}

void OnInterrupt(int signal) {
  if (signal != SIGPIPE && g_finish_after_commit.load()) {
    WaitForHolds();  // a commit under way on another thread ends first
    if (g_committed.load()) {
      if (g_waiting.exchange(signal) != 0) ::_exit(0);  // asked again: the output is in place
      if (!AnyRegistered()) return;                     // the command finishes; a later registration ends it
    }
  }
  EndInterrupted(signal);
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : kSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

void InstallInterruptHandlers(AfterCommit after_commit) {
  g_finish_after_commit.store(after_commit == AfterCommit::kFinish);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_mask = InterruptSignals();  // one handler at a time
  action.sa_flags = SA_RESTART;         // a handler that returns (kFinish) leaves calls under way going
  for (const int s : kSignals) {
    // A signal ignored when the program started stays ignored: nohup, a job started with & by a
    // script, a parent that wants write errors instead of SIGPIPE.
    struct sigaction inherited {};
    if (::sigaction(s, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    ::sigaction(s, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

int RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_committed.store(false);
    g_slots[i].state.store(2);
    // A signal put off since a commit ends the run now that more is written (see OnInterrupt, which
    // notes its signal before it looks for registered files, as this looks for it after registering).
    if (const int waiting = g_waiting.load(); waiting != 0) EndInterrupted(waiting);
    return i;
  }
  return -1;
}

void UnregisterTemporaryFile(int slot) {
  if (slot >= 0 && slot < kSlots) g_slots[slot].state.store(0);
}

void NoteOutputsCommitted() { g_committed.store(true); }

InterruptHold::InterruptHold() {
  static_assert(sizeof(sigset_t) <= sizeof saved_mask_ && alignof(sigset_t) <= alignof(std::uint64_t));
  const sigset_t set = InterruptSignals();
  blocked_ = ::pthread_sigmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(saved_mask_.data())) == 0;
  g_holds.fetch_add(1);
  if (g_stopping.load()) {
    // A handler on another thread is ending the process; the rewrite must not begin.
    g_holds.fetch_sub(1);
    for (;;) ::pause();
  }
}

InterruptHold::~InterruptHold() {
  g_holds.fetch_sub(1);
  if (blocked_) ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_mask_.data()), nullptr);
}

}  // namespace kavrimo
