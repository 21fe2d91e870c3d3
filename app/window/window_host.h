// WindowHost: the Convert command's front end in the window: status label, progress bar, pending
// events, message boxes and the application-wide busy cursor.
#pragma once

#include <string>

#include "app/conversion/conversion.h"
#include "app/window/form_dialogs.h"
#include "app/window/held_input.h"

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
  // position 0 to 100; a value outside is clamped to the nearer end. Then handles the pending events
  // but the user's input (a repaint, a close sent by the window manager), so that closing the window
  // is seen at the next step; clicks and keys wait for the two points of ProcessMessages, or for the
  // end of the command. Raises ConversionCancelled once RequestCancel was called.
  void SetProgress(int position) override;
  // Handles every pending event, the input held since the last call first; raises ConversionCancelled
  // as SetProgress.
  void ProcessMessages() override;
  // The modal box titled "Information" with the information icon.
  void ShowInformation(const std::string& text) override;
  // The modal box titled "Error" with the error icon.
  void ShowError(const std::string& text) override;
  // Busy on or off; repeating a state changes nothing, so the cursor never stacks.
  void SetBusyCursor(bool busy) override;

  // The user gave up the command running (closed the window): its next progress step or processing of
  // events ends it. Cleared by BeginCommand.
  void RequestCancel() { cancel_ = true; }
  // Before each command: no cancel requested.
  void BeginCommand() { cancel_ = false; }
  // After each command, however it ended: the input held during its last pass goes to the windows.
  void EndCommand() { held_input_.Release(); }

 private:
  QLabel& status_;
  QProgressBar& progress_;
  FormDialogs& dialogs_;
  HeldInput held_input_;
  bool busy_ = false;
  bool cancel_ = false;
};

// File names and messages, which are bytes, to and from Qt's strings, reversibly: valid UTF-8 becomes
// its characters, and every byte that is not part of valid UTF-8 becomes the lone surrogate U+DC80 to
// U+DCFF, which no UTF-8 text yields, and turns back into that byte. So a name from the settings file
// reaches the file system byte for byte through the fields.
QString FromNative(const std::string& text);
std::string ToNative(const QString& text);

}  // namespace kavrimo
