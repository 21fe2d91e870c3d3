// FormDialogs: every modal dialog the window shows (message boxes and file dialogs) behind one
// interface, so tests can answer them and read their texts. QtFormDialogs shows the real ones.
#pragma once

#include <QString>

class QWidget;

namespace kavrimo {

class FormDialogs {
 public:
  enum class Icon { Information, Critical };

  virtual ~FormDialogs() = default;
  // A modal box with the icon, title, text and one OK button, owned by the application (centred on
  // the screen, every window blocked); returns when it is closed.
  virtual void ShowMessage(Icon icon, const QString& title, const QString& text) = 0;
  // A modal file dialog with its name filters ("Description (*.a *.b)", several separated by ";;", the
  // first selected), no title of its own, no default suffix and no overwrite prompt, offering previous
  // (a full path, may be empty). Returns the chosen full path, or an empty string when cancelled or
  // when the dialog cannot be shown.
  virtual QString ChooseOpenFile(QWidget* parent, const QString& filter, const QString& previous) = 0;
  virtual QString ChooseSaveFile(QWidget* parent, const QString& filter, const QString& previous) = 0;
};

// The real dialogs: QMessageBox and QFileDialog.
class QtFormDialogs : public FormDialogs {
 public:
  void ShowMessage(Icon icon, const QString& title, const QString& text) override;
  QString ChooseOpenFile(QWidget* parent, const QString& filter, const QString& previous) override;
  QString ChooseSaveFile(QWidget* parent, const QString& filter, const QString& previous) override;
};

}  // namespace kavrimo
