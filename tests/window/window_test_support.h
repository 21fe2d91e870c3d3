// Shared pieces of the window tests: the Qt application under the offscreen platform with the C
// locale, a recorder standing in for every modal dialog, and small grid and template files.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QString>
#include <QTemporaryDir>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/window/form_dialogs.h"

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
    application_ = new QApplication(argc, argv);
    QLocale::setDefault(QLocale::c());
    QCoreApplication::setApplicationName(QStringLiteral("Kavrimo"));
  }
  void TearDown() override { delete application_; }

 private:
  QApplication* application_ = nullptr;
};

// Registered once for the whole test binary.
inline ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct ShownMessage {
  FormDialogs::Icon icon;
  QString title;
  QString text;
};

struct FileRequest {
  QString filter;
  QString previous;
};

// Records every message box and answers file dialogs from a queue (an empty answer cancels).
class RecordingDialogs : public FormDialogs {
 public:
  void ShowMessage(Icon icon, const QString& title, const QString& text) override {
    messages.push_back({icon, title, text});
    if (on_message) on_message();
  }
  QString ChooseOpenFile(QWidget*, const QString& filter, const QString& previous) override {
    open_requests.push_back({filter, previous});
    return Answer();
  }
  QString ChooseSaveFile(QWidget*, const QString& filter, const QString& previous) override {
    save_requests.push_back({filter, previous});
    return Answer();
  }

  std::vector<ShownMessage> messages;
  std::vector<FileRequest> open_requests;
  std::vector<FileRequest> save_requests;
  std::deque<QString> answers;
  std::function<void()> on_message;  // runs while a box is "open"

 private:
  QString Answer() {
    if (answers.empty()) return QString();
    QString answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// An ArcGIS float grid base.hdr + base.flt with the given header text and little-endian cells.
inline void WriteGrid(const std::string& base, const std::string& header,
                      const std::vector<float>& cells) {
  WriteFile(base + ".hdr", header);
  std::string data;
  for (const float cell : cells) {
    std::uint32_t bits;
    static_assert(sizeof bits == sizeof cell);
    std::memcpy(&bits, &cell, sizeof bits);
    for (int shift = 0; shift < 32; shift += 8) data.push_back(static_cast<char>(bits >> shift));
  }
  WriteFile(base + ".flt", data);
}

// A 512-byte image header: ImageType 200 (byte 22), Projection 3 (byte 23), Rows and Columns 1
// (little-endian 16-bit at bytes 30 and 32), every other byte 0.
inline std::string TemplateHeader() {
  std::string header(512, '\0');
  header[22] = static_cast<char>(200);
  header[23] = 3;
  header[30] = 1;
  header[32] = 1;
  return header;
}

}  // namespace kavrimo::testing
