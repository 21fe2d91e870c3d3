// What an interruption (SIGINT, SIGTERM, SIGHUP, or SIGPIPE when a reader of our output went away)
// leaves behind: nothing of a file being written.
//
// A program installs the handlers once at start. Every temporary file is registered while it exists;
// on an interruption the handler removes the registered files and ends the process with status
// 128 + the signal number, so an earlier file of an output's name stays as it was. A file being
// rewritten in place is finished first (InterruptHold). SIGXFSZ is ignored, so a write past the
// file-size limit fails as a full disk does instead of killing the process. The handler does only
// what is safe in a signal handler: unlink, nanosleep and _exit.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "runtime/no_copy.h"

namespace kavrimo {

// What SIGINT, SIGTERM or SIGHUP does once outputs are committed (NoteOutputsCommitted) and no file is
// being written: end the process as at any other time (kInterrupt, a window, whose status says nothing
// of a conversion), or let the command finish with its own status (kFinish, a command line, whose
// status says what happened to its output). Under kFinish the signal waits for the next temporary file
// to be registered (the next output of a batch), which then ends the process with 128 + its number;
// when none comes the command ends as it would have. A second such signal ends the process at once,
// with status 0: its output is in place. SIGPIPE ends the process whenever it comes.
enum class AfterCommit { kInterrupt, kFinish };

// Installs the handlers of SIGINT, SIGTERM, SIGHUP and SIGPIPE, except for those the program was
// started with ignored (nohup), and ignores SIGXFSZ. Call once, at start.
void InstallInterruptHandlers(AfterCommit after_commit = AfterCommit::kInterrupt);

// Registers path for removal on an interruption; returns a slot for Unregister, -1 when every slot is
// taken (the file then stays behind if interrupted, for a later run to sweep away). Registering ends
// the process when a signal waits since a commit (AfterCommit::kFinish).
int RegisterTemporaryFile(const std::string& path);
void UnregisterTemporaryFile(int slot);

// Says that outputs were put in place, within the hold of their commit (TemporaryOutput::CommitTogether).
void NoteOutputsCommitted();

// Holds off interruptions while it lives: this thread blocks them, and a handler running on another
// thread waits for the hold to end before it removes anything and exits.
class InterruptHold : NoCopy {
 public:
  InterruptHold();
  ~InterruptHold();

 private:
  bool blocked_;
  // The thread's signal mask before the hold, as the system keeps it.
  alignas(std::uint64_t) std::array<unsigned char, 128> saved_mask_;
};

}  // namespace kavrimo
