// WindowHost: Qt implementation of the Convert command's front end.
#include "app/window/window_host.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace kavrimo {

QString FromNative(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

std::string ToNative(const QString& text) { return QFile::encodeName(text).toStdString(); }

WindowHost::WindowHost(QLabel& status, QProgressBar& progress, FormDialogs& dialogs)
    : status_(status), progress_(progress), dialogs_(dialogs) {}

WindowHost::~WindowHost() { SetBusyCursor(false); }

void WindowHost::SetStatus(const std::string& text) {
  status_.setText(FromNative(text));
  status_.adjustSize();
}

void WindowHost::SetProgress(int position) {
  progress_.setValue(std::clamp(position, progress_.minimum(), progress_.maximum()));
}

void WindowHost::ProcessMessages() { QCoreApplication::processEvents(); }

void WindowHost::ShowInformation(const std::string& text) {
  dialogs_.ShowMessage(FormDialogs::Icon::Information, QStringLiteral("Information"),
                       FromNative(text));
}

void WindowHost::ShowError(const std::string& text) {
  dialogs_.ShowMessage(FormDialogs::Icon::Critical, QStringLiteral("Error"), FromNative(text));
}

void WindowHost::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace kavrimo
