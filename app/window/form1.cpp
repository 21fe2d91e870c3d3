// TForm1: building the window, its settings file, the browse and Convert handlers and the default
// error display.
#include "app/window/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <cmath>

#include "app/window/app_identity.h"
#include "runtime/errors.h"
#include "runtime/number_text.h"

namespace kavrimo {
namespace {

const char* const kCaption = "ArcGIS raster to Miradel image converter";
const char* const kCredit = "Kavrimo - grids to Miradel images";
const char* const kOpenFilter = "ArcGIS export raster (*.flt *.FLT);;ESRI ASCII grid (*.asc);;GeoTIFF (*.tif *.tiff)";
const char* const kSaveFilter = "Miradel files (*.IMG *.img)";

// The client area, in pixels at 96 dpi, that an outer size of 550 x 258 leaves inside a sizeable
// frame (4-pixel borders, 26-pixel caption).
constexpr int kClientWidth = 542;
constexpr int kClientHeight = 224;

const char* const kLabel1Text = "ArcGIS export raster (*.flt)";
// Space for the longest field label: from its left edge (16) to a gap of 8 before the fields (144).
constexpr int kLabelSpace = 120;

// A sans-serif at 8 points, the narrow families first. Where only a wide face is to be had, it is
// condensed just enough for the field labels to keep clear of the fields.
QFont WindowFont(int label_space) {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                    QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  const int width = QFontMetrics(font).horizontalAdvance(QString::fromLatin1(kLabel1Text));
  if (width > label_space) font.setStretch(std::max(70, label_space * 100 / width));
  return font;
}

// Disables the Convert button while a command runs and gives it back, with its focus, however the
// command ends. (The engine restores the cursor itself.)
class DisabledWhileRunning {
 public:
  explicit DisabledWhileRunning(QPushButton& button) : button_(button), had_focus_(button.hasFocus()) {
    button_.setEnabled(false);
  }
  ~DisabledWhileRunning() {
    button_.setEnabled(true);
    if (had_focus_) button_.setFocus();
  }
  DisabledWhileRunning(const DisabledWhileRunning&) = delete;
  DisabledWhileRunning& operator=(const DisabledWhileRunning&) = delete;

 private:
  QPushButton& button_;
  bool had_focus_;
};

// Marks a command running, for the window (its flag) and for its host (a cancel request cleared
// before, the input held during the command handed on after), however the command ends.
class RunningCommand {
 public:
  RunningCommand(bool& flag, WindowHost& host) : flag_(flag), host_(host) {
    flag_ = true;
    host_.BeginCommand();
  }
  ~RunningCommand() {
    flag_ = false;
    host_.EndCommand();
  }
  RunningCommand(const RunningCommand&) = delete;
  RunningCommand& operator=(const RunningCommand&) = delete;

 private:
  bool& flag_;
  WindowHost& host_;
};

// A name from a file dialog holds U+FFFD where the dialog could not read the bytes of a name that is
// not UTF-8: it names another file, so it is refused rather than written.
void CheckDialogName(const QString& chosen) {
  if (chosen.contains(QChar::ReplacementCharacter)) throw EInOutError(3, ToNative(chosen));
}

// Puts the name chosen in a file dialog ("" when it was cancelled: nothing changes) into edit, and keeps
// it as the name the dialog starts from next time.
void TakeChosenName(const QString& chosen, QString& dialog_name, QLineEdit& edit) {
  if (chosen.isEmpty()) return;
  CheckDialogName(chosen);
  dialog_name = chosen;
  edit.setText(chosen);
}

}  // namespace

TForm1::TForm1(const QString& program_dir, FormDialogs* dialogs, QWidget* parent)
    : QWidget(parent),
      Label1(new QLabel(this)),
      Label2(new QLabel(this)),
      Edit1(new QLineEdit(this)),
      Edit2(new QLineEdit(this)),
      Button1(new QPushButton(this)),
      Button2(new QPushButton(this)),
      Button3(new QPushButton(this)),
      Label3(new QLabel(this)),
      Label4(new QLabel(this)),
      ProgressBar1(new QProgressBar(this)),
      files_(LocateProgramFiles(program_dir.isEmpty() ? ExecutableDirectory() : ToNative(program_dir),
                                UserFoldersOfProcess())),
      own_dialogs_(dialogs == nullptr ? std::make_unique<QtFormDialogs>() : nullptr),
      dialogs_(dialogs == nullptr ? *own_dialogs_ : *dialogs),
      host_(*Label4, *ProgressBar1, dialogs_),
      KelImg1(host_) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kCaption));
  setWindowIcon(ApplicationIcon());
  const double scale = screen()->logicalDotsPerInch() / 96.0;
  const auto px = [scale](int pixels) { return static_cast<int>(std::lround(pixels * scale)); };
  setFont(WindowFont(px(kLabelSpace)));

  // Positions and sizes are given at 96 dpi and follow the screen's logical resolution.
  const auto place = [&](QWidget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(px(left), px(top), px(width), px(height));
  };
  const auto place_label = [&](QLabel* label, const char* name, int left, int top, const char* text) {
    label->setObjectName(QString::fromLatin1(name));
    label->setText(QString::fromLatin1(text));
    label->move(px(left), px(top));
    label->adjustSize();
  };
  place_label(Label1, "Label1", 16, 18, kLabel1Text);
  place_label(Label2, "Label2", 16, 51, "Miradel image to export");
  place_label(Label4, "Label4", 16, 120, "");
  place_label(Label3, "Label3", 280, 208, kCredit);
  place(Edit1, "Edit1", 144, 16, 345, 21);
  place(Button1, "Button1", 496, 14, 33, 25);
  place(Edit2, "Edit2", 144, 48, 345, 21);
  place(Button2, "Button2", 496, 46, 33, 25);
  place(Button3, "Button3", 16, 80, 75, 25);
  place(ProgressBar1, "ProgressBar1", 16, 144, 513, 16);
  Button1->setText(QStringLiteral("..."));
  Button2->setText(QStringLiteral("..."));
  Button3->setText(QStringLiteral("Convert"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setFocusPolicy(Qt::NoFocus);
  for (QPushButton* button : {Button1, Button2, Button3}) {
    button->setAutoDefault(false);
    button->installEventFilter(this);
  }

  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  Edit1->setFocus();

  resize(px(kClientWidth), px(kClientHeight));

  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
  connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });

  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate() {
  IniFile =
      std::make_unique<TIniFile>(files_.settings_path, files_.settings_in_user_folder ? TIniFile::Folder::CreateMissing
                                                                                      : TIniFile::Folder::MustExist);
  Edit1->setText(FromNative(IniFile->ReadString("files", "input", "")));
  Edit2->setText(FromNative(IniFile->ReadString("files", "output", "")));
}

void TForm1::FormDestroy() { IniFile.reset(); }

void TForm1::Button1Click() {
  TakeChosenName(dialogs_.ChooseOpenFile(this, QString::fromLatin1(kOpenFilter), open_dialog_name_), open_dialog_name_,
                 *Edit1);
}

void TForm1::Button2Click() {
  TakeChosenName(dialogs_.ChooseSaveFile(this, QString::fromLatin1(kSaveFilter), save_dialog_name_), save_dialog_name_,
                 *Edit2);
}

void TForm1::Button3Click() {
  ConversionRequest request;
  request.input = ToNative(Edit1->text());
  request.output = ToNative(Edit2->text());
  request.template_path = files_.template_path;
  request.threads = DefaultThreadCount();
  const DisabledWhileRunning guard(*Button3);
  const RunningCommand running(converting_, host_);
  // The decimal separator, the busy cursor and the names saved, in that order, before the engine reads
  // the grid; a settings file that cannot be written stops the command here.
  SetDecimalSeparator('.');
  const BusyCursor busy(host_);
  SaveNames(request.input, request.output);
  Convert(request, KelImg1, host_);
}

void TForm1::SaveNames(const std::string& input, const std::string& output) {
  // Both names are checked before either is written: a name saved cut would name another file after
  // a restart.
  for (const auto& [which, name] : {std::pair{"input", &input}, std::pair{"output", &output}}) {
    if (!TIniFile::CanKeep(*name)) {
      throw ECommandError(std::string("The ") + which +
                          " name holds a line break, which the settings file cannot keep");
    }
  }
  IniFile->WriteString("files", "input", input);
  IniFile->WriteString("files", "output", output);
}

void TForm1::ShowException(const std::exception& error) {
  // A failed file operation carries the file's name beside its message ("File not found"): the box
  // shows it before the message, as the command line does.
  std::string message = error.what();
  if (const auto* io = dynamic_cast<const EInOutError*>(&error); io != nullptr && !io->Path().empty()) {
    message = io->Path() + ": " + message;
  }
  dialogs_.ShowMessage(FormDialogs::Icon::Critical, QCoreApplication::applicationName(),
                       FromNative(WithFullStop(message)));
}

template <typename Handler>
void TForm1::Guarded(Handler handler) {
  try {
    handler();
  } catch (const ConversionCancelled&) {
    // The window was closed during Convert: nothing to show, and the window goes now.
  } catch (const std::exception& error) {
    ShowException(error);
  }
  if (close_requested_) close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (converting_) {
    close_requested_ = true;
    host_.RequestCancel();
    event->ignore();  // the command unwinds first; Guarded closes the window then
    return;
  }
  QWidget::closeEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button != nullptr && (key == Qt::Key_Return || key == Qt::Key_Enter) && button->isEnabled()) {
      button->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_before_ || event->spontaneous()) return;
  shown_before_ = true;
  // Centred on the screen, frame included.
  QRect frame = frameGeometry();
  frame.moveCenter(screen()->availableGeometry().center());
  move(frame.topLeft());
}

}  // namespace kavrimo
