// QtFormDialogs: the window's modal dialogs shown with QMessageBox and QFileDialog.
#include "app/window/form_dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace kavrimo {
namespace {

// A message box centred on the screen once it has its final size: its text is wrapped and the box
// sized as it is shown, so centring it earlier would place a box with a long text off the centre.
class CentredMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
};

QString ChooseFile(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter, const QString& previous) {
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setAcceptMode(mode);
  // Any name may be typed, existing or not; it is used exactly as typed.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (!previous.isEmpty()) dialog.selectFile(previous);
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.front();
}

}  // namespace

void QtFormDialogs::ShowMessage(Icon icon, const QString& title, const QString& text) {
  // Centred on the screen rather than over the active window.
  CentredMessageBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::Critical, title, text,
                        QMessageBox::Ok);
  box.exec();
}

QString QtFormDialogs::ChooseOpenFile(QWidget* parent, const QString& filter, const QString& previous) {
  return ChooseFile(parent, QFileDialog::AcceptOpen, filter, previous);
}

QString QtFormDialogs::ChooseSaveFile(QWidget* parent, const QString& filter, const QString& previous) {
  return ChooseFile(parent, QFileDialog::AcceptSave, filter, previous);
}

}  // namespace kavrimo
