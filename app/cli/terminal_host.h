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
  // With quiet set, status texts and the success text are not printed (batch mode prints one line per
  // grid itself); prefix goes before the component's messages.
  TerminalHost(std::ostream& out, std::ostream& err, bool progress_bar, bool quiet = false,
               std::string prefix = {});

  void SaveNames(const std::string&, const std::string&) override {}  // the settings file is the window's
  void SetStatus(const std::string& text) override;
  void SetProgress(int position) override;
  void ProcessMessages() override {}
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void SetBusyCursor(bool) override {}

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool progress_bar_;
  bool quiet_;
  std::string prefix_;
  int shown_ = -1;
};

// Serialises writes of several hosts that share the standard streams.
std::mutex& StreamMutex();

}  // namespace kavrimo::cli
