// TForm1: the converter's one window: two file-name fields with browse buttons, Convert, a status
// line, a progress bar and a credit line; the settings file (beside the executable, or in the
// user's configuration folder for an installed copy); the default error display for an error that
// escapes a command.
#pragma once

#include <QWidget>
#include <exception>
#include <memory>

#include "app/program_files/program_files.h"
#include "app/window/form_dialogs.h"
#include "app/window/ini_file.h"
#include "app/window/window_host.h"
#include "image/kel_img.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kavrimo {

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // program_dir: the executable's directory, from which the template and the settings file are
  // located (LocateProgramFiles); empty for the running executable's. dialogs: where message boxes
  // and file dialogs go; null for the real ones. Runs FormCreate.
  explicit TForm1(const QString& program_dir = QString(), FormDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  // Runs FormDestroy.
  ~TForm1() override;

  // Fills Edit1 and Edit2 from the settings file; creates nothing.
  void FormCreate();
  // Frees the settings object, which flushes the settings file. Writes no setting.
  void FormDestroy();
  // Browse for the input grid / the output image: a confirmed choice replaces the field's text.
  void Button1Click();
  void Button2Click();
  // The Convert command over Edit1 and Edit2; raises the failing step's error. Button3 is disabled
  // and the busy cursor shown only while it runs.
  void Button3Click();

  // The default error display: the message with a full stop as needed, under the application title,
  // with the error icon; a failed file operation names its file first ("<name>: File not found.").
  void ShowException(const std::exception& error);

  // The template and the settings file this window uses.
  const ProgramFiles& Files() const { return files_; }

  // The window's controls, named by kind and number (object names alike).
  QLabel* const Label1;
  QLabel* const Label2;
  QLineEdit* const Edit1;
  QLineEdit* const Edit2;
  QPushButton* const Button1;
  QPushButton* const Button2;
  QPushButton* const Button3;
  QLabel* const Label3;
  QLabel* const Label4;
  QProgressBar* const ProgressBar1;

 protected:
  void showEvent(QShowEvent* event) override;
  // Closing the window while Convert runs cancels it (its passes stop at their next progress step, its
  // temporary file goes, no box is shown); the window closes once the command has unwound.
  void closeEvent(QCloseEvent* event) override;
  // Return or Enter on a focused button presses it, as Space does; in a text field they do nothing.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs a handler; an error that escapes it goes to the default error display.
  template <typename Handler>
  void Guarded(Handler handler);
  // Writes both names to the settings file; a name it cannot keep (a line break) is refused before
  // either is written.
  void SaveNames(const std::string& input, const std::string& output);

  ProgramFiles files_;
  std::unique_ptr<FormDialogs> own_dialogs_;
  FormDialogs& dialogs_;
  WindowHost host_;
  std::unique_ptr<TIniFile> IniFile;
  QString open_dialog_name_;  // the last name chosen in each dialog during this run
  QString save_dialog_name_;
  bool shown_before_ = false;
  bool converting_ = false;       // Button3Click is running
  bool close_requested_ = false;  // the window was closed while it ran

 public:
  TKelImg KelImg1;
};

}  // namespace kavrimo
