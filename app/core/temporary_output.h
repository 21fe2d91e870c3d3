// The output image is built under a temporary name in the output's directory and renamed over the
// output only when complete, so a failed or killed conversion never leaves a half-written image under
// the output's name, and an earlier file of that name stays as it was until the new one replaces it.
#pragma once

#include <string>

namespace kavrimo {

class TemporaryOutput {
 public:
  // Reserves a fresh name ".<output name>.<random>.kavrimo-tmp" beside output, creating an empty file
  // with the usual permissions (0666 less the umask). Raises EInOutError when the directory refuses.
  explicit TemporaryOutput(const std::string& output);
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~TemporaryOutput();

  const std::string& Path() const { return path_; }
  // Renames the temporary file over the output.
  void Commit();

 private:
  std::string output_;
  std::string path_;
  bool committed_ = false;
};

// True for a name that TemporaryOutput makes.
bool IsTemporaryOutputName(const std::string& file_name);

}  // namespace kavrimo
