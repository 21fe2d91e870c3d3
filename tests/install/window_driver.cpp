// Drives an installed kavrimo from inside, for the install test: loaded into the program with
// LD_PRELOAD, it waits for the event loop, types the names from KAVRIMO_DRIVE_INPUT and
// KAVRIMO_DRIVE_OUTPUT into the window's fields, presses Convert, prints the text of every message
// box on standard output ("message: <text>") and closes it, then closes the window. The program
// itself is run unchanged, so it finds its files as it would for a user.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

QWidget* FindForm() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QLatin1String("Form1") && widget->isVisible()) return widget;
  }
  return nullptr;
}

void Fail(const char* why) {
  std::printf("driver: %s\n", why);
  std::fflush(stdout);
  QCoreApplication::exit(3);
}

void Drive() {
  QWidget* form = FindForm();
  if (form == nullptr) return Fail("no window Form1");
  auto* input = form->findChild<QLineEdit*>(QStringLiteral("Edit1"));
  auto* output = form->findChild<QLineEdit*>(QStringLiteral("Edit2"));
  auto* convert = form->findChild<QPushButton*>(QStringLiteral("Button3"));
  if (input == nullptr || output == nullptr || convert == nullptr) return Fail("controls not found");
  input->setText(qEnvironmentVariable("KAVRIMO_DRIVE_INPUT"));
  output->setText(qEnvironmentVariable("KAVRIMO_DRIVE_OUTPUT"));

  // The boxes are modal: they run their own event loop, in which this timer answers them.
  auto* closer = new QTimer(form);
  QObject::connect(closer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      std::printf("message: %s\n", box->text().toLocal8Bit().constData());
      std::fflush(stdout);
      box->done(QMessageBox::Ok);
    }
  });
  closer->start(20);
  convert->click();
  form->close();
}

void Start() { QTimer::singleShot(0, Drive); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Start)
