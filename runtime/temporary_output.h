// Writing a file the user named, safely: the new content is built in a temporary file and put in place
// only when complete, so a failed, interrupted or killed command never leaves a half-written file under
// the output's name, and an earlier file of that name stays as it was until the new one replaces it.
//
// Before anything is written, the output is checked against what is there: a name that is not a
// regular file (a device, a FIFO, a socket, a folder) is never replaced or written; a file that the
// command reads is never written over (same device and inode, however it is named); an existing file
// the user may not write is left alone; a missing folder is reported at once.
//
// Replacing keeps what the user set on the old file: its permission bits (never wider), its owner and
// group where the process may set them, and its links: a symbolic link keeps pointing where it pointed
// and the new content lands at the link's target (built beside the target), where the kernel follows
// the link for this user (a link another user planted in a sticky folder is refused); a file with other hard
// links is rewritten in place once the new content is complete, so every name sees it. When the folder
// takes no new files but the file itself may be written, the content is built in the system's
// temporary folder and then written in place the same way.
//
// Temporary names: ".<output name>.<host>.<pid>-<tag>.kavrimo-tmp", host this machine's name, pid the
// writing process, tag ten random characters; the output name part is cut short when the whole would
// exceed the system's limit of 255 bytes for one name. Each temporary file is registered for removal
// on an interruption (runtime/interrupt.h). One that a killed process leaves behind (SIGKILL, power
// loss) is removed by a later run that writes into the same folder, if it was made on this machine by
// a process that no longer runs; temporary files of running processes and of other machines (a shared
// network folder) are left alone, and so is anything whose name does not follow the pattern exactly.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "runtime/errors.h"

namespace kavrimo {

// The folders already swept for leftovers during one run of several outputs (a batch), so that each
// folder is listed once per run rather than once per output.
class SweptFolders {
 public:
  // True the first time folder is named.
  bool First(const std::string& folder);

 private:
  std::mutex mutex_;
  std::set<std::string> folders_;
};

class TemporaryOutput {
 public:
  // Checks output; writes nothing. reads: the files the command reads, as it names them. Raises
  //   ECommandError "<output> is not a regular file" for an existing output (after symbolic links)
  //     that is not a regular file;
  //   ECommandError "Cannot write over <read>, which this command reads" when output is the file read;
  //   EInOutError 3 "Invalid filename" when the output's folder does not exist, the name is empty,
  //     names no file, or is longer than the file system takes (one name, or the whole path), 5 "File
  //     access denied" for an existing output the user may not write (for root: one with no write bit
  //     at all) or a symbolic link the kernel will not follow; each naming output.
  // swept: where a run of several outputs records the folders it swept; null sweeps on every Reserve.
  explicit TemporaryOutput(std::string output, const std::vector<std::string>& reads = {},
                           SweptFolders* swept = nullptr);
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~TemporaryOutput();

  // Removes leftovers of killed runs from the folder, then creates the temporary file, empty. Raises
  // EInOutError naming the output when no temporary file can be made.
  void Reserve();
  const std::string& Path() const { return path_; }
  const std::string& Output() const { return output_; }
  // Runs write, which builds the new content in Path(). An EInOutError about the temporary file leaves
  // naming the output instead: users never see a temporary name.
  template <typename Write>
  void Build(Write&& write) {
    try {
      write();
    } catch (const EInOutError& e) {
      if (e.Path() != path_) throw;
      throw EInOutError(e.ErrorCode(), output_);
    }
  }
  // Puts the temporary file's content in place of the output (see above). Raises EInOutError naming
  // the output; the earlier file then stays as it was.
  void Commit();
  // Puts the content of several outputs in place together, as files that belong together must be
  // (a grid's header beside its cells): first every rewrite in place has its target opened and its
  // space reserved and every renamed file its mode set, which is where a full disk or a refusal stops
  // the command with every earlier file as it was; then all are put in place in one step that
  // interruptions wait for.
  static void CommitTogether(const std::vector<TemporaryOutput*>& outputs);

  // A test seam: observer(output) runs on the committing thread after each output of a commit is put in
  // place, before the next, within the commit's hold on interruptions (so a test can raise a signal
  // there). None is set in the programs.
  static void ObserveCommitsForTests(void (*observer)(const std::string& output));

 private:
  void Prepare();  // everything that can fail before a file is replaced
  void Finish();   // the replacement itself
  void RewriteInPlace();

  std::string output_;      // as the user named it
  std::string target_;      // the file to replace: output_, or the end of its symbolic links
  bool existed_ = false;    // target_ existed when checked
  std::uint32_t mode_ = 0;  // and these were its mode, owner and group
  std::uint32_t owner_ = 0;
  std::uint32_t group_ = 0;
  SweptFolders* swept_;
  std::string path_;       // the temporary file, once reserved
  bool in_place_ = false;  // the temporary file lies elsewhere: commit rewrites the target in place
  bool rewrite_ = false;   // the commit rewrites the target in place (in_place_, or other hard links)
  int target_fd_ = -1;     // the target, opened for a rewrite in place
  int slot_ = -1;          // its registration for removal on an interruption
  bool committed_ = false;
};

// True for a name that TemporaryOutput makes (for any output, host and process).
bool IsTemporaryOutputName(const std::string& file_name);

// Removes from folder the temporary files made on this machine by processes that no longer run;
// returns how many. Never raises: a leftover that cannot be removed stays.
int RemoveDeadTemporaryFiles(const std::string& folder);

}  // namespace kavrimo
