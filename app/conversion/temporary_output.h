// The output image is built under a temporary name in the output's directory and renamed over the
// output only when complete, so a failed or killed conversion never leaves a half-written image under
// the output's name, and an earlier file of that name stays as it was until the new one replaces it.
//
// Temporary names: ".<output name>.<host>.<pid>-<tag>.kavrimo-tmp", where host is this machine's
// name, pid the converting process and tag ten random characters. The output name part is cut short
// when the whole would exceed the system's limit of 255 bytes for one name.
//
// Leftovers. A conversion that fails removes its temporary file; one that is killed (SIGKILL, power
// loss) cannot, and leaves it behind. The next conversion to the same output removes every leftover
// of that output that was made on this machine by a process that no longer runs. Temporary files of
// running processes (another conversion to the same output at this moment) and of other machines
// (a shared network folder, whose process numbers mean nothing here) are left alone; so is anything
// whose name does not follow the pattern exactly.
#pragma once

#include <string>

namespace kavrimo {

class TemporaryOutput {
 public:
  // Removes the output's leftovers of dead processes, then reserves a fresh temporary name beside
  // output, creating an empty file with the usual permissions (0666 less the umask). Raises
  // EInOutError when the directory refuses ("File access denied" for one the user may not write,
  // "File not found" for a missing one).
  explicit TemporaryOutput(const std::string& output);
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~TemporaryOutput();

  const std::string& Path() const { return path_; }
  // Renames the temporary file over the output. Raises EInOutError when the rename fails; the
  // temporary file is then removed by the destructor.
  void Commit();

 private:
  std::string output_;
  std::string path_;
  bool committed_ = false;
};

// True for a name that TemporaryOutput makes (for any output, host and process).
bool IsTemporaryOutputName(const std::string& file_name);

// Removes the leftover temporary files of output made on this machine by processes that no longer
// run; returns how many were removed. Never raises: a leftover that cannot be removed stays.
int RemoveDeadTemporaryOutputs(const std::string& output);

}  // namespace kavrimo
