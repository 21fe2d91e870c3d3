// WindowHost: the Convert command's front end in the window: status label, progress bar, pending
// events, message boxes and the application-wide busy cursor.
#pragma once

#include <string>

#include "app/conversion/conversion.h"
#include "app/window/form_dialogs.h"

class QLabel;
class QProgressBar;

namespace kavrimo {

class WindowHost : public ConversionHost {
 public:
  // The widgets and dialogs must outlive the host.
  WindowHost(QLabel& status, QProgressBar& progress, FormDialogs& dialogs);
  // Takes back a busy cursor still shown.
  ~WindowHost() override;
  WindowHost(const WindowHost&) = delete;
  WindowHost& operator=(const WindowHost&) = delete;

  // Sets the status label's text (8-bit text of the system's encoding); the label fits itself to
  // it.
  void SetStatus(const std::string& text) override;
  // position 0 to 100; a value outside is clamped to the nearer end.
  void SetProgress(int position) override;
  // Handles every pending event, paint requests included.
  void ProcessMessages() override;
  // The modal box titled "Information" with the information icon.
  void ShowInformation(const std::string& text) override;
  // The modal box titled "Error" with the error icon.
  void ShowError(const std::string& text) override;
  // Busy on or off; repeating a state changes nothing, so the cursor never stacks.
  void SetBusyCursor(bool busy) override;

 private:
  QLabel& status_;
  QProgressBar& progress_;
  FormDialogs& dialogs_;
  bool busy_ = false;
};

// 8-bit text of the system's encoding (file names, messages) to and from Qt's strings.
QString FromNative(const std::string& text);
std::string ToNative(const QString& text);

}  // namespace kavrimo
