// TForm1 driven as a user would: settings at start, typing, Convert, errors, browse buttons.
#include "app/window/form1.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "tests/window/window_test_support.h"

namespace kavrimo::testing {
namespace {

// The grid of the worked example: valid values 100, 1000 and 2000 code to 13, 126 and 253.
const char* const kGridHeader =
    "ncols 3\nnrows 1\nxllcorner 10\nyllcorner 20\ncellsize 0.5\nNODATA_value -9999\n"
    "byteorder LSBFIRST\n";

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    program_dir_ = dir_.path().toStdString() + "/";
    settings_ = program_dir_ + "kavrimo.ini";
    WriteFile(program_dir_ + "header.bin", TemplateHeader());
    WriteGrid(program_dir_ + "grid", kGridHeader, {100.0f, 1000.0f, 2000.0f});
  }
  void TearDown() override {
    form_.reset();
    ::chmod(dir_.path().toLocal8Bit().constData(), 0700);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "busy cursor left on";
  }

  TForm1& Open(const std::string& program_dir = {}) {
    form_ = std::make_unique<TForm1>(
        QString::fromStdString(program_dir.empty() ? program_dir_ : program_dir), &dialogs_);
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    return *form_;
  }

  // Types both names into the empty fields and presses Convert.
  void TypeAndConvert(const std::string& input, const std::string& output) {
    form_->Edit1->clear();
    form_->Edit2->clear();
    QTest::keyClicks(form_->Edit1, QString::fromStdString(input));
    QTest::keyClicks(form_->Edit2, QString::fromStdString(output));
    QTest::mouseClick(form_->Button3, Qt::LeftButton);
  }

  QTemporaryDir dir_;
  std::string program_dir_;
  std::string settings_;
  RecordingDialogs dialogs_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(Form1Test, StartsEmptyWithoutSettingsAndCreatesNoFile) {
  TForm1& form = Open();
  EXPECT_EQ(form.Edit1->text(), QString());
  EXPECT_EQ(form.Edit2->text(), QString());
  form_.reset();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(settings_)));
}

TEST_F(Form1Test, StartsWithSavedNames) {
  WriteFile(settings_, "[files]\ninput=/data/dem.flt\noutput=/data/dem.IMG\n");
  TForm1& form = Open();
  EXPECT_EQ(form.Edit1->text(), QStringLiteral("/data/dem.flt"));
  EXPECT_EQ(form.Edit2->text(), QStringLiteral("/data/dem.IMG"));
}

TEST_F(Form1Test, ConvertWritesImageSettingsAndReportsSuccess) {
  TForm1& form = Open();
  const std::string input = program_dir_ + "grid.flt";
  const std::string output = program_dir_ + "out.IMG";
  bool enabled_during_command = true;
  bool busy_at_box = true;
  dialogs_.on_message = [&] {
    enabled_during_command = form.Button3->isEnabled();
    busy_at_box = QApplication::overrideCursor() != nullptr;
  };
  TypeAndConvert(input, output);

  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].icon, FormDialogs::Icon::Information);
  EXPECT_EQ(dialogs_.messages[0].title, QStringLiteral("Information"));
  EXPECT_EQ(dialogs_.messages[0].text, QStringLiteral("Image created succesfully"));
  EXPECT_FALSE(enabled_during_command) << "Convert stays pressable while it runs";
  EXPECT_FALSE(busy_at_box) << "busy cursor over the success box";
  EXPECT_TRUE(form.Button3->isEnabled());

  const std::string image = ReadFile(output);
  ASSERT_EQ(image.size(), 512u + 3u);
  EXPECT_EQ(static_cast<unsigned char>(image[22]), 200);  // ImageType
  EXPECT_EQ(image[23], 3);                                // Projection
  EXPECT_EQ(image[30], 1);                                // Rows
  EXPECT_EQ(image[32], 3);                                // Columns
  EXPECT_EQ(static_cast<unsigned char>(image[512]), 13);
  EXPECT_EQ(static_cast<unsigned char>(image[513]), 126);
  EXPECT_EQ(static_cast<unsigned char>(image[514]), 253);

  EXPECT_EQ(ReadFile(settings_), "[files]\ninput=" + input + "\noutput=" + output + "\n");
  EXPECT_EQ(form.Label4->text(), QStringLiteral("Step 2 of 2"));
  EXPECT_GE(form.Label4->width(),
            form.Label4->fontMetrics().horizontalAdvance(form.Label4->text()));
  EXPECT_EQ(form.ProgressBar1->value(), 100);
}

TEST_F(Form1Test, MissingGridShowsErrorWithFullStopThenConvertWorksAgain) {
  TForm1& form = Open();
  const std::string output = program_dir_ + "out.IMG";
  TypeAndConvert(program_dir_ + "missing.flt", output);

  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].icon, FormDialogs::Icon::Critical);
  EXPECT_EQ(dialogs_.messages[0].title, QStringLiteral("Kavrimo"));
  EXPECT_EQ(dialogs_.messages[0].text,
            QString::fromStdString("Cannot open file " + program_dir_ + "missing.hdr."));
  EXPECT_TRUE(form.Button3->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(output)));
  // The names were saved before the failure.
  EXPECT_EQ(ReadFile(settings_),
            "[files]\ninput=" + program_dir_ + "missing.flt\noutput=" + output + "\n");

  TypeAndConvert(program_dir_ + "grid.flt", output);
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(dialogs_.messages[1].text, QStringLiteral("Image created succesfully"));
  EXPECT_EQ(ReadFile(output).size(), 515u);
}

TEST_F(Form1Test, ClosingWithoutConvertLeavesSettingsUnchanged) {
  const std::string before = "; kept as it is\r\n[FILES]\r\nInput = a.flt\r\n";
  WriteFile(settings_, before);
  TForm1& form = Open();
  EXPECT_EQ(form.Edit1->text(), QStringLiteral("a.flt"));
  QTest::keyClicks(form.Edit1, QStringLiteral("x"));
  QTest::keyClicks(form.Edit2, QStringLiteral("/elsewhere/out.IMG"));
  form.close();
  form_.reset();
  EXPECT_EQ(ReadFile(settings_), before);
}

// Settings that cannot be written stop Convert before the grid is read: the grid named here has no
// header, so reading it first would report "Cannot open file".
void ExpectUnableToWrite(const RecordingDialogs& dialogs, const TForm1& form,
                         const std::string& settings, const std::string& output) {
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].icon, FormDialogs::Icon::Critical);
  EXPECT_EQ(dialogs.messages[0].text,
            QString::fromStdString("Unable to write to " + settings + "."));
  EXPECT_EQ(form.Label4->text(), QString());
  EXPECT_TRUE(form.Button3->isEnabled());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(output)));
}

TEST_F(Form1Test, SettingsBeneathAFileCannotBeWritten) {
  // A directory path through a regular file is refused to root as well.
  WriteFile(program_dir_ + "plain", "x");
  const std::string program_dir = program_dir_ + "plain/";
  TForm1& form = Open(program_dir);
  TypeAndConvert(program_dir_ + "nothing.flt", program_dir_ + "out.IMG");
  ExpectUnableToWrite(dialogs_, form, program_dir + "kavrimo.ini", program_dir_ + "out.IMG");
}

TEST_F(Form1Test, ReadOnlyProgramDirectoryCannotTakeSettings) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  TForm1& form = Open();
  ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0500), 0);
  TypeAndConvert(program_dir_ + "nothing.flt", "/tmp/kavrimo-never-written.IMG");
  ExpectUnableToWrite(dialogs_, form, settings_, "/tmp/kavrimo-never-written.IMG");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(settings_)));
}

struct BrowseCase {
  const char* name;
  bool input;  // Button1 and Edit1, else Button2 and Edit2
  const char* filter;
};

class BrowseTest : public Form1Test, public ::testing::WithParamInterface<BrowseCase> {};

TEST_P(BrowseTest, ChoiceReplacesFieldCancelKeepsItDialogRemembersName) {
  const BrowseCase& c = GetParam();
  SCOPED_TRACE(c.name);
  TForm1& form = Open();
  QPushButton* button = c.input ? form.Button1 : form.Button2;
  QLineEdit* edit = c.input ? form.Edit1 : form.Edit2;
  const auto& requests = c.input ? dialogs_.open_requests : dialogs_.save_requests;
  QTest::keyClicks(edit, QStringLiteral("typed"));

  dialogs_.answers = {QStringLiteral("/x/first"), QString(), QStringLiteral("/y/second")};
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(edit->text(), QStringLiteral("/x/first"));
  QTest::mouseClick(button, Qt::LeftButton);  // cancelled
  EXPECT_EQ(edit->text(), QStringLiteral("/x/first"));
  edit->setText(QStringLiteral("typed again"));
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(edit->text(), QStringLiteral("/y/second"));

  ASSERT_EQ(requests.size(), 3u);
  for (const FileRequest& request : requests)
    EXPECT_EQ(request.filter, QString::fromLatin1(c.filter));
  EXPECT_EQ(requests[0].previous, QString()) << "the dialog is not primed from the field";
  EXPECT_EQ(requests[1].previous, QStringLiteral("/x/first"));
  EXPECT_EQ(requests[2].previous, QStringLiteral("/x/first")) << "a cancel forgets nothing";
  EXPECT_TRUE((c.input ? dialogs_.save_requests : dialogs_.open_requests).empty());
  EXPECT_TRUE(dialogs_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, BrowseTest,
    ::testing::Values(BrowseCase{"input", true, "ArcGIS export raster (*.flt *.FLT)"},
                      BrowseCase{"output", false, "Miradel files (*.IMG *.img)"}),
    [](const ::testing::TestParamInfo<BrowseCase>& case_info) {
      return std::string(case_info.param.name);
    });

}  // namespace
}  // namespace kavrimo::testing
