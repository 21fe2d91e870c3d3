// The command line's side of a conversion: status texts on standard output, a progress bar on standard
// error when it is a terminal, the image component's messages as error lines.
#pragma once

#include <mutex>
#include <ostream>
#include <string>

#include "app/conversion/conversion.h"

namespace kavrimo::cli {

class TerminalHost : public ConversionHost {
 public:
  // progress_bar: draw the bar (standard error is a terminal and the user did not ask for quiet);
  // quiet: no status texts and no success text; prefix goes before the component's messages.
  TerminalHost(std::ostream& out, std::ostream& err, bool progress_bar, bool quiet = false, std::string prefix = {});
  // Clears a bar still shown, so an error line that follows starts on a clean line.
  ~TerminalHost() override;
  TerminalHost(const TerminalHost&) = delete;
  TerminalHost& operator=(const TerminalHost&) = delete;

  void SetStatus(const std::string& text) override;
  void SetProgress(int position) override;
  void ProcessMessages() override {}
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void SetBusyCursor(bool) override {}

 private:
  void ClearBar();  // with the stream lock held

  std::ostream& out_;
  std::ostream& err_;
  bool progress_bar_;
  bool quiet_;
  std::string prefix_;
  int shown_ = -1;  // the position drawn, -1 when no bar is on the screen
};

// Serialises writes of several hosts that share the standard streams.
std::mutex& StreamMutex();

// The terminal sequence that returns to the start of the line and clears it.
inline constexpr const char* kClearLine = "\r\x1b[K";

}  // namespace kavrimo::cli
