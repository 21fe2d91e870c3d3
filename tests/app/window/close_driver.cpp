// Drives kavrimo from inside for the close test: loaded into the program with LD_PRELOAD, it waits
// until the window manager has made the window active, types the names from KAVRIMO_DRIVE_INPUT and
// KAVRIMO_DRIVE_OUTPUT, presses Convert and, when the bar reaches 10 in the pass named by
// KAVRIMO_ACT_PASS ("1" or "2"), runs KAVRIMO_ACT_COMMAND (a shell command that closes the window
// through the window manager). From then on each progress step of that pass is held 60 ms, so the pass
// outlasts the window manager's reply on any machine; a close that is seen ends it long before.
// It prints the text of every message box ("message: <text>") and closes the box, the window's state
// when the close reaches it ("close: <status> at <bar>") and when the program ends ("end: <status> at
// <bar>"), and every edit of a field ("typed: <field> <status> at <bar>"). A window still open when
// Convert returns is reported ("open after Convert: ...") and closed.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace {

QWidget* form = nullptr;
QLabel* status = nullptr;
QProgressBar* bar = nullptr;

void Say(const char* what, const QString& text) {
  std::printf("%s: %s\n", what, text.toLocal8Bit().constData());
  std::fflush(stdout);
}

QString State() { return status->text() + QStringLiteral(" at ") + QString::number(bar->value()); }

void Fail(const char* why) {
  Say("driver", QString::fromLatin1(why));
  QCoreApplication::exit(3);
}

// Reports the close as the window receives it, before the window acts on it.
class CloseWatch : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == form && event->type() == QEvent::Close) Say("close", State());
    return false;
  }
};

void WatchProgress() {
  const QString pass = QStringLiteral("Step %1 of 2").arg(qEnvironmentVariable("KAVRIMO_ACT_PASS"));
  QObject::connect(bar, &QProgressBar::valueChanged, [pass](int value) {
    static bool sent = false;
    if (sent) {
      if (status->text() == pass) QThread::msleep(60);
    } else if (value >= 10 && status->text() == pass) {
      sent = true;
      QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), qEnvironmentVariable("KAVRIMO_ACT_COMMAND")});
    }
  });
}

void Convert() {
  form->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(qEnvironmentVariable("KAVRIMO_DRIVE_INPUT"));
  form->findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(qEnvironmentVariable("KAVRIMO_DRIVE_OUTPUT"));
  // The boxes are modal: they run their own event loop, in which this timer answers them.
  auto* closer = new QTimer(form);
  QObject::connect(closer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Say("message", box->text());
      box->done(QMessageBox::Ok);
    }
  });
  closer->start(20);
  form->findChild<QPushButton*>(QStringLiteral("Button3"))->click();
  if (form->isVisible()) {
    Say("open after Convert", State());
    form->close();
  }
}

// Convert once the window is active, so that keys of the window manager's bindings reach it.
void WhenActive(int tries) {
  if (form->isActiveWindow()) return Convert();
  if (tries == 0) return Fail("the window never became active");
  QTimer::singleShot(20, [tries] { WhenActive(tries - 1); });
}

void Start() {
  QTimer::singleShot(0, [] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->objectName() == QLatin1String("Form1") && widget->isVisible()) form = widget;
    }
    if (form == nullptr) return Fail("no window Form1");
    status = form->findChild<QLabel*>(QStringLiteral("Label4"));
    bar = form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    if (status == nullptr || bar == nullptr) return Fail("controls not found");
    form->installEventFilter(new CloseWatch);
    for (auto* edit : form->findChildren<QLineEdit*>()) {
      QObject::connect(edit, &QLineEdit::textEdited,
                       [edit] { Say("typed", edit->objectName() + QStringLiteral(" ") + State()); });
    }
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { Say("end", State()); });
    WatchProgress();
    WhenActive(250);
  });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Start)
