// TerminalHost: status lines to standard output, the progress bar and the component's messages to
// standard error, writes of hosts running side by side kept apart by one lock. The bar has a line of
// its own: it is cleared before any line is printed and drawn again at the next step.
#include "app/cli/terminal_host.h"

#include "app/cli/cli.h"

namespace kavrimo::cli {

std::mutex& StreamMutex() {
  static std::mutex mutex;
  return mutex;
}

TerminalHost::TerminalHost(std::ostream& out, std::ostream& err, bool progress_bar, bool quiet, std::string prefix)
    : out_(out), err_(err), progress_bar_(progress_bar && !quiet), quiet_(quiet), prefix_(std::move(prefix)) {}

TerminalHost::~TerminalHost() {
  std::lock_guard lock(StreamMutex());
  ClearBar();
}

void TerminalHost::ClearBar() {
  if (shown_ < 0) return;
  err_ << kClearLine << std::flush;
  shown_ = -1;
}

void TerminalHost::SetStatus(const std::string& text) {
  if (quiet_) return;
  std::lock_guard lock(StreamMutex());
  ClearBar();
  out_ << text << std::endl;
}

void TerminalHost::SetProgress(int position) {
  if (!progress_bar_ || position == shown_) return;
  constexpr int kWidth = 40;
  const int filled = position * kWidth / 100;
  std::lock_guard lock(StreamMutex());
  shown_ = position;
  err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
       << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << position << "%" << std::flush;
}

void TerminalHost::ShowInformation(const std::string& text) {
  if (quiet_) return;
  std::lock_guard lock(StreamMutex());
  ClearBar();
  out_ << text << std::endl;
}

void TerminalHost::ShowError(const std::string& text) {
  std::lock_guard lock(StreamMutex());
  ClearBar();
  PrintError(err_, prefix_ + text);
}

}  // namespace kavrimo::cli
