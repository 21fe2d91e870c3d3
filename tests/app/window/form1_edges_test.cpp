// TForm1 at its edges: names that are not UTF-8, names too long for the file system, closing the window
// during Convert, the bar after a failing ASCII grid, Return on buttons, and the real message box's place.
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <filesystem>

#include "runtime/temporary_output.h"
#include "tests/app/window/window_test_support.h"

namespace kavrimo::testing {
namespace {

namespace fs = std::filesystem;

class Form1EdgeTest : public FormTest {
 protected:
  // The worked example's grid again, as base.hdr and base.flt.
  void CopyGrid(const std::string& base) {
    WriteText(base + ".hdr", ReadText(dir_ + "grid.hdr"));
    WriteText(base + ".flt", ReadText(dir_ + "grid.flt"));
  }
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (IsTemporaryOutputName(entry.path().filename().string())) found.push_back(entry.path().string());
    }
    return found;
  }
  void Type(QLineEdit* edit, const std::string& text) {
    edit->clear();
    QTest::keyClicks(edit, QString::fromStdString(text));
  }
};

// Latin-1 names from the settings file reach the file system byte for byte: the image lands under the
// stored name, a file whose name is that name's lossy reading stays untouched, and the settings keep the
// bytes. A name the file dialog could not read is refused, the field kept.
TEST_F(Form1EdgeTest, NamesThatAreNotUtf8KeepTheirBytes) {
  // clang-format off
  const std::string grid = dir_ + "gr\xE9" "d", output = dir_ + "caf\xE9.IMG";
  // clang-format on
  CopyGrid(grid);
  WriteText(dir_ + "caf\xEF\xBF\xBD.IMG", "unrelated");
  const std::string settings = "[files]\ninput=" + grid + ".flt\noutput=" + output + "\n";
  WriteText(settings_, settings);
  TForm1& form = Open();
  QTest::mouseClick(form.Button3, Qt::LeftButton);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text, QStringLiteral("Image created succesfully"));
  EXPECT_EQ(ReadText(output).substr(512), "\x0D\x7E\xFD");
  EXPECT_EQ(ReadText(dir_ + "caf\xEF\xBF\xBD.IMG"), "unrelated");
  EXPECT_EQ(ReadText(settings_), settings);

  const QString before = form.Edit2->text();
  dialogs_.answers = {QString::fromUtf8("/x/caf\xEF\xBF\xBD.IMG")};
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(dialogs_.messages[1].text, QString::fromUtf8("/x/caf\xEF\xBF\xBD.IMG: Invalid filename."));
  EXPECT_EQ(form.Edit2->text(), before);
  for (const std::string& name : {grid + ".hdr", grid + ".flt", output}) fs::remove(name);  // Qt cannot name them
}

// Names with blanks at their ends come back from the settings file as they were used: after a restart,
// Convert writes the same file again, never the name without its blanks.
TEST_F(Form1EdgeTest, NamesWithBlanksAtTheirEndsComeBackAfterARestart) {
  CopyGrid(dir_ + "grid ");
  const struct {
    std::string input, output, lookalike;  // lookalike: the name without the blanks, never written
  } cases[] = {{dir_ + "grid.flt", dir_ + "out.IMG ", dir_ + "out.IMG"},
               {dir_ + "grid .flt\t", dir_ + "out.IMG\t ", dir_ + "out.IMG"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    fs::remove(settings_);
    TForm1& form = Open();
    form.Edit1->setText(QString::fromStdString(c.input));
    form.Edit2->setText(QString::fromStdString(c.output));
    for (int run = 0; run < 2; ++run) {
      fs::remove(c.output);
      dialogs_.messages.clear();
      QTest::mouseClick(form_->Button3, Qt::LeftButton);
      ASSERT_EQ(dialogs_.messages.size(), 1u);
      EXPECT_EQ(dialogs_.messages[0].text, QStringLiteral("Image created succesfully"));
      EXPECT_EQ(ReadText(c.output).substr(512), "\x0D\x7E\xFD");
      EXPECT_FALSE(fs::exists(c.lookalike));
      Open();  // a restart: the fields come from the settings file
      EXPECT_EQ(form_->Edit1->text().toStdString(), c.input);
      EXPECT_EQ(form_->Edit2->text().toStdString(), c.output);
    }
  }
}

// A name with a line break (a file dialog can give one) cannot be kept in the settings file: Convert
// refuses it before anything is written, the settings file and any earlier image as they were.
TEST_F(Form1EdgeTest, ANameWithALineBreakIsRefusedBeforeAnythingIsWritten) {
  const std::string settings = "[files]\ninput=earlier.flt\noutput=earlier.IMG\n";
  const struct {
    const char* field;
    std::string input, output;
  } cases[] = {{"output", dir_ + "grid.flt", dir_ + "out\n.IMG"}, {"input", dir_ + "grid.flt\r", dir_ + "out.IMG"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    WriteText(settings_, settings);
    WriteText(dir_ + "out.IMG", "earlier image");
    TForm1& form = Open();
    dialogs_.messages.clear();
    dialogs_.answers = {QString::fromStdString(c.input)};
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    dialogs_.answers = {QString::fromStdString(c.output)};
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].text.toStdString(),
              std::string("The ") + c.field + " name holds a line break, which the settings file cannot keep.");
    EXPECT_EQ(ReadText(settings_), settings);
    EXPECT_EQ(ReadText(dir_ + "out.IMG"), "earlier image");
    EXPECT_FALSE(fs::exists(dir_ + "out\n.IMG"));
    EXPECT_EQ(form.ProgressBar1->value(), 0);
  }
}

// A name longer than the file system takes is refused before the grid is read: no pass starts.
TEST_F(Form1EdgeTest, NamesTooLongAreRefusedBeforeTheGridIsRead) {
  const std::string cases[] = {dir_ + std::string(300, 'n') + ".IMG", dir_ + std::string(5000, 'p') + ".IMG"};
  TForm1& form = Open();
  for (const std::string& output : cases) {
    SCOPED_TRACE(output.size());
    dialogs_.messages.clear();
    Type(form.Edit1, dir_ + "grid.flt");
    Type(form.Edit2, output);
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].text.toStdString(), output + ": Invalid filename.");
    EXPECT_EQ(form.Label4->text(), QString());
    EXPECT_EQ(form.ProgressBar1->value(), 0);
  }
}

// Closing the window during pass 2 (as the window manager would) cancels the conversion at its next
// progress step: no box, no temporary file, the earlier image as it was, and the window closes.
TEST_F(Form1EdgeTest, ClosingTheWindowDuringConvertCancelsIt) {
  WriteText(dir_ + "big.hdr", "ncols 100\nnrows 100\ncellsize 1\nNODATA_value -9999\n");
  WriteText(dir_ + "big.flt", std::string(100 * 100 * 4, '\x10'));
  WriteText(dir_ + "out.IMG", "earlier image");
  TForm1& form = Open();
  bool posted = false;
  QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
    if (value < 10 || posted || form.Label4->text() != QStringLiteral("Step 2 of 2")) return;
    posted = true;
    QCoreApplication::postEvent(form.windowHandle(), new QCloseEvent);
  });
  Type(form.Edit1, dir_ + "big.flt");
  Type(form.Edit2, dir_ + "out.IMG");
  QTest::mouseClick(form.Button3, Qt::LeftButton);
  EXPECT_TRUE(posted);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_LT(form.ProgressBar1->value(), 20) << "the pass ran on after the window was closed";
  EXPECT_EQ(ReadText(dir_ + "out.IMG"), "earlier image");
  EXPECT_EQ(Temporaries(), std::vector<std::string>{});
  EXPECT_FALSE(form.isVisible());
}

// A grid that fails at its third cell of four leaves the bar at that cell's step, 75, whether it is a
// float grid with a NaN there or an ASCII grid with a bad token there.
TEST_F(Form1EdgeTest, AFailingCellLeavesTheBarAtItsStep) {
  WriteText(dir_ + "nan.hdr", "ncols 4\nnrows 1\ncellsize 1\n");
  WriteText(dir_ + "nan.flt", std::string("\x00\x00\x80\x3F\x00\x00\x00\x40\x00\x00\xC0\x7F\x00\x00\x80\x40", 16));
  WriteText(dir_ + "bad.asc", "ncols 4\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 x 4\n");
  const struct {
    const char* grid;
    std::string message;
  } cases[] = {{"nan.flt", "Invalid floating point operation."},
               {"bad.asc", "Line 6 of " + dir_ + "bad.asc: 'x' is not a number."}};
  TForm1& form = Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.grid);
    dialogs_.messages.clear();
    Type(form.Edit1, dir_ + c.grid);
    Type(form.Edit2, dir_ + "out.IMG");
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].text, QString::fromStdString(c.message));
    EXPECT_EQ(form.ProgressBar1->value(), 75);
  }
}

// Return and Enter press a focused button as Space does; in a text field they do nothing.
TEST_F(Form1EdgeTest, ReturnPressesAFocusedButtonOnly) {
  const struct {
    const char* widget;
    Qt::Key key;
    std::size_t messages, open_dialogs;
  } cases[] = {{"Button3", Qt::Key_Return, 1, 0},
               {"Button3", Qt::Key_Enter, 1, 0},
               {"Button1", Qt::Key_Return, 0, 1},
               {"Edit1", Qt::Key_Return, 0, 0},
               {"Edit2", Qt::Key_Enter, 0, 0}};
  TForm1& form = Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.widget) + (c.key == Qt::Key_Return ? " Return" : " Enter"));
    dialogs_.messages.clear();
    dialogs_.open_requests.clear();
    Type(form.Edit1, dir_ + "grid.flt");
    Type(form.Edit2, dir_ + "out.IMG");
    auto* widget = form.findChild<QWidget*>(QString::fromLatin1(c.widget));
    ASSERT_NE(widget, nullptr);
    widget->setFocus();
    QTest::keyClick(widget, c.key);
    EXPECT_EQ(dialogs_.messages.size(), c.messages);
    EXPECT_EQ(dialogs_.open_requests.size(), c.open_dialogs);
  }
}

// The real message box, with a text long enough to wrap, stands in the middle of the screen once shown.
TEST(MessageBoxTest, ALongTextIsCentredAfterItsLayout) {
  QtFormDialogs dialogs;
  QRect frame;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    frame = box->frameGeometry();
    box->close();
  });
  dialogs.ShowMessage(FormDialogs::Icon::Critical, QStringLiteral("Kavrimo"),
                      QStringLiteral("Cannot open file /a/rather/long/path/") + QString(300, QLatin1Char('x')) +
                          QStringLiteral(".hdr."));
  ASSERT_TRUE(frame.isValid());
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((frame.center() - centre).manhattanLength(), 2) << "box at " << frame.x() << "," << frame.y();
}

}  // namespace
}  // namespace kavrimo::testing
