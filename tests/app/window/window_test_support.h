// Shared pieces of the window tests: the Qt application under the offscreen platform with the C locale,
// a recorder standing in for every modal dialog, and a fixture that opens TForm1 over a temporary program
// directory holding the image template and a small grid.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/window/form1.h"
#include "app/window/form_dialogs.h"
#include "tests/support/files.h"

namespace kavrimo::testing {

// One QApplication for the whole binary, created before the first test.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setlocale(LC_ALL, "C");
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QApplication>(argc, argv);
    QLocale::setDefault(QLocale::c());
    QCoreApplication::setApplicationName(QStringLiteral("Kavrimo"));
  }
  void TearDown() override { application_.reset(); }

 private:
  std::unique_ptr<QApplication> application_;
};

inline ::testing::Environment* const qt_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct ShownMessage {
  FormDialogs::Icon icon;
  QString title, text;
};

struct FileRequest {
  QString filter, previous;
};

// Records every message box and answers file dialogs from a queue (an empty answer cancels).
class RecordingDialogs : public FormDialogs {
 public:
  void ShowMessage(Icon icon, const QString& title, const QString& text) override {
    messages.push_back({icon, title, text});
    if (on_message) on_message();
  }
  QString ChooseOpenFile(QWidget*, const QString& filter, const QString& previous) override {
    return Answer(open_requests, {filter, previous});
  }
  QString ChooseSaveFile(QWidget*, const QString& filter, const QString& previous) override {
    return Answer(save_requests, {filter, previous});
  }

  std::vector<ShownMessage> messages;
  std::vector<FileRequest> open_requests, save_requests;
  std::deque<QString> answers;
  std::function<void()> on_message;  // runs while a box is "open"

 private:
  QString Answer(std::vector<FileRequest>& requests, const FileRequest& request) {
    requests.push_back(request);
    const QString answer = answers.empty() ? QString() : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
};

using testing_support::ReadText;
using testing_support::WriteText;

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temporary_.isValid());
    // The template: ImageType 200 (byte 22), Projection 3 (byte 23), Rows and Columns 1 (little-endian
    // 16-bit at bytes 30 and 32), every other byte 0.
    std::string header(512, '\0');
    header[22] = static_cast<char>(200);
    header[23] = 3;
    header[30] = header[32] = 1;
    WriteText(dir_ + "header.bin", header);
    // The grid of the worked example: valid values 100, 1000 and 2000 (little-endian floats) code to 13,
    // 126 and 253.
    WriteText(dir_ + "grid.hdr",
              "ncols 3\nnrows 1\nxllcorner 10\nyllcorner 20\ncellsize 0.5\nNODATA_value -9999\nbyteorder LSBFIRST\n");
    WriteText(dir_ + "grid.flt", std::string("\x00\x00\xC8\x42\x00\x00\x7A\x44\x00\x00\xFA\x44", 12));
  }
  void TearDown() override {
    form_.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "busy cursor left on";
  }

  TForm1& Open(const std::string& program_dir = {}) {
    form_ = std::make_unique<TForm1>(QString::fromStdString(program_dir.empty() ? dir_ : program_dir), &dialogs_);
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    return *form_;
  }

  QTemporaryDir temporary_;
  const std::string dir_ = temporary_.path().toStdString() + "/";  // the program's directory
  const std::string settings_ = dir_ + "kavrimo.ini";
  RecordingDialogs dialogs_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace kavrimo::testing
