// TForm1 driven as a user would: settings at start, typing, Convert, errors, browse buttons.
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>

#include "tests/app/window/window_test_support.h"
#include "tests/support/geotiff_files.h"

namespace kavrimo::testing {
namespace {

// Sets XDG_CONFIG_HOME for the life of the object.
class ScopedConfigHome {
 public:
  explicit ScopedConfigHome(const std::string& folder)
      : before_(qgetenv("XDG_CONFIG_HOME")), was_set_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder));
  }
  ~ScopedConfigHome() {
    if (was_set_) {
      qputenv("XDG_CONFIG_HOME", before_);
    } else {
      qunsetenv("XDG_CONFIG_HOME");
    }
  }

 private:
  QByteArray before_;
  bool was_set_;
};

class Form1Test : public FormTest {
 protected:
  // Types both names into the emptied fields and presses Convert.
  void TypeAndConvert(const std::string& input, const std::string& output) {
    form_->Edit1->clear();
    form_->Edit2->clear();
    QTest::keyClicks(form_->Edit1, QString::fromStdString(input));
    QTest::keyClicks(form_->Edit2, QString::fromStdString(output));
    QTest::mouseClick(form_->Button3, Qt::LeftButton);
  }

  void ExpectMessage(std::size_t index, FormDialogs::Icon icon, const char* title, const std::string& text) {
    ASSERT_GT(dialogs_.messages.size(), index);
    EXPECT_EQ(dialogs_.messages[index].icon, icon);
    EXPECT_EQ(dialogs_.messages[index].title, QString::fromLatin1(title));
    EXPECT_EQ(dialogs_.messages[index].text.toStdString(), text);
  }
};

TEST_F(Form1Test, StartsEmptyWithoutSettingsAndCreatesNoFile) {
  TForm1& form = Open();
  EXPECT_EQ(form.Edit1->text(), QString());
  EXPECT_EQ(form.Edit2->text(), QString());
  form_.reset();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(settings_)));
}

TEST_F(Form1Test, StartsWithSavedNamesAndClosingWithoutConvertLeavesThemUnchanged) {
  const std::string before = "; kept as it is\r\n[FILES]\r\nInput = /data/dem.flt\r\noutput=/data/dem.IMG\r\n";
  WriteText(settings_, before);
  TForm1& form = Open();
  EXPECT_EQ(form.Edit1->text(), QStringLiteral("/data/dem.flt"));
  EXPECT_EQ(form.Edit2->text(), QStringLiteral("/data/dem.IMG"));
  QTest::keyClicks(form.Edit1, QStringLiteral("x"));
  QTest::keyClicks(form.Edit2, QStringLiteral("/elsewhere/out.IMG"));
  form.close();
  form_.reset();
  EXPECT_EQ(ReadText(settings_), before);
}

TEST_F(Form1Test, ConvertWritesImageSettingsAndReportsSuccess) {
  TForm1& form = Open();
  bool enabled_during_command = true, busy_at_box = true;
  dialogs_.on_message = [&] {
    enabled_during_command = form.Button3->isEnabled();
    busy_at_box = QApplication::overrideCursor() != nullptr;
  };
  TypeAndConvert(dir_ + "grid.flt", dir_ + "out.IMG");

  EXPECT_EQ(dialogs_.messages.size(), 1u);
  ExpectMessage(0, FormDialogs::Icon::Information, "Information", "Image created succesfully");
  EXPECT_FALSE(enabled_during_command) << "Convert stays pressable while it runs";
  EXPECT_FALSE(busy_at_box) << "busy cursor over the success box";
  EXPECT_TRUE(form.Button3->isEnabled());
  // ImageType 200, Projection 3, Rows 1 and Columns 3 in the header; the three coded cells after it.
  const std::string image = ReadText(dir_ + "out.IMG");
  ASSERT_EQ(image.size(), 515u);
  EXPECT_EQ(image.substr(22, 2), "\xC8\x03");
  EXPECT_EQ(image.substr(30, 3), std::string("\x01\x00\x03", 3));
  EXPECT_EQ(image.substr(512), "\x0D\x7E\xFD");
  EXPECT_EQ(ReadText(settings_), "[files]\ninput=" + dir_ + "grid.flt\noutput=" + dir_ + "out.IMG\n");
  EXPECT_EQ(form.Label4->text(), QStringLiteral("Step 2 of 2"));
  EXPECT_GE(form.Label4->width(), form.Label4->fontMetrics().horizontalAdvance(form.Label4->text()));
  EXPECT_EQ(form.ProgressBar1->value(), 100);
}

// Records what the status label shows each time it is painted.
class PaintLog : public QObject {
 public:
  PaintLog(QLabel& label, std::vector<std::string>& log) : label_(label), log_(log) { label.installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) log_.push_back("paint " + label_.text().toStdString());
    return false;
  }

 private:
  QLabel& label_;
  std::vector<std::string>& log_;
};

// Each pass's status is on the screen before the pass moves the bar: pending events are handled in
// between.
TEST_F(Form1Test, StatusIsPaintedBeforeEachPassBegins) {
  TForm1& form = Open();
  std::vector<std::string> log;
  const PaintLog paints(*form.Label4, log);
  QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged,
                   [&](int value) { log.push_back("progress " + std::to_string(value)); });
  TypeAndConvert(dir_ + "grid.flt", dir_ + "out.IMG");
  const auto at = [&](const std::string& entry, std::size_t from = 0) {
    return std::find(log.begin() + static_cast<std::ptrdiff_t>(from), log.end(), entry) - log.begin();
  };
  const auto step1 = static_cast<std::size_t>(at("paint Step 1 of 2"));
  const auto step2 = static_cast<std::size_t>(at("paint Step 2 of 2"));
  ASSERT_LT(step1, log.size()) << ::testing::PrintToString(log);
  ASSERT_LT(step2, log.size()) << ::testing::PrintToString(log);
  const auto pass1 = static_cast<std::size_t>(at("progress 33"));
  const auto pass2 = static_cast<std::size_t>(at("progress 33", static_cast<std::size_t>(at("progress 0"))));
  EXPECT_LT(step1, pass1) << ::testing::PrintToString(log);
  EXPECT_LT(step2, pass2) << ::testing::PrintToString(log);
  EXPECT_LT(pass2, log.size()) << ::testing::PrintToString(log);
}

// A typed name ending in .asc or .tif/.tiff, in any letter case, is read as an ESRI ASCII grid or a
// GeoTIFF: the same cells as the float grid give the same pixels.
TEST_F(Form1Test, TypedAsciiGridAndGeoTiffConvert) {
  Open();
  WriteText(dir_ + "grid.ASC",
            "NCOLS 3\r\nNROWS 1\r\nXLLCORNER 0\r\nYLLCORNER 0\r\nCELLSIZE 1\r\n100 1000\r\n2000\r\n");
  testing_support::TiffImage tiff;
  tiff.ncols = 3, tiff.nrows = 1, tiff.compression = 8, tiff.predictor = 3;
  testing_support::WriteTiff(dir_ + "grid.TIFF", tiff, {100, 1000, 2000});
  for (const char* grid : {"grid.ASC", "grid.TIFF"}) {
    SCOPED_TRACE(grid);
    dialogs_.messages.clear();
    TypeAndConvert(dir_ + grid, dir_ + "out.IMG");
    ExpectMessage(0, FormDialogs::Icon::Information, "Information", "Image created succesfully");
    EXPECT_EQ(ReadText(dir_ + "out.IMG").substr(512), "\x0D\x7E\xFD");
  }
}

// A grid that cannot be opened is named in the box with a full stop, whatever its kind: a missing
// header, GeoTIFF, data file or ASCII grid, a folder or a FIFO named like a GeoTIFF. No image is left,
// the names were saved first, and Convert works again.
TEST_F(Form1Test, AGridThatCannotBeOpenedIsNamedThenConvertWorksAgain) {
  QDir().mkpath(QString::fromStdString(dir_ + "folder.tif"));
  ASSERT_EQ(::mkfifo((dir_ + "fifo.tiff").c_str(), 0600), 0);
  WriteText(dir_ + "nodata.hdr", "ncols 1\nnrows 1\n");
  const struct {
    const char* grid;
    std::string message;
  } cases[] = {{"missing.flt", "Cannot open file " + dir_ + "missing.hdr."},
               {"none.tif", dir_ + "none.tif: File not found."},
               {"folder.tif", dir_ + "folder.tif: File access denied."},
               {"fifo.tiff", dir_ + "fifo.tiff: File access denied."},
               {"nodata.flt", dir_ + "nodata.flt: File not found."},
               {"none.asc", "Cannot open file " + dir_ + "none.asc."}};
  TForm1& form = Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.grid);
    dialogs_.messages.clear();
    TypeAndConvert(dir_ + c.grid, dir_ + "out.IMG");
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    ExpectMessage(0, FormDialogs::Icon::Critical, "Kavrimo", c.message);
    EXPECT_TRUE(form.Button3->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir_ + "out.IMG")));
    EXPECT_EQ(ReadText(settings_), "[files]\ninput=" + dir_ + c.grid + "\noutput=" + dir_ + "out.IMG\n");
  }
  dialogs_.messages.clear();
  TypeAndConvert(dir_ + "grid.flt", dir_ + "out.IMG");
  ExpectMessage(0, FormDialogs::Icon::Information, "Information", "Image created succesfully");
  EXPECT_EQ(ReadText(dir_ + "out.IMG").size(), 515u);
}

// An installed copy: the template in ../share/kavrimo from the executable's folder, the settings in the
// user's configuration folder, made private on the first write; nothing lands beside the executable.
TEST_F(Form1Test, InstalledCopyKeepsSettingsInUserConfigurationFolder) {
  QDir().mkpath(QString::fromStdString(dir_ + "usr/bin"));
  QDir().mkpath(QString::fromStdString(dir_ + "usr/share/kavrimo"));
  QFile::rename(QString::fromStdString(dir_ + "header.bin"),
                QString::fromStdString(dir_ + "usr/share/kavrimo/header.bin"));
  const ScopedConfigHome config(dir_ + "home/config");
  TForm1& form = Open(dir_ + "usr/bin/");
  EXPECT_EQ(form.Files().template_path, dir_ + "usr/share/kavrimo/header.bin");
  TypeAndConvert(dir_ + "grid.flt", dir_ + "out.IMG");
  ExpectMessage(0, FormDialogs::Icon::Information, "Information", "Image created succesfully");
  EXPECT_EQ(ReadText(dir_ + "out.IMG").substr(22, 2), "\xC8\x03") << "not made from the shared template";
  EXPECT_EQ(ReadText(dir_ + "home/config/kavrimo/kavrimo.ini"),
            "[files]\ninput=" + dir_ + "grid.flt\noutput=" + dir_ + "out.IMG\n");
  EXPECT_EQ(QFileInfo(QString::fromStdString(dir_ + "home/config/kavrimo")).permissions() & 0x0077, 0)
      << "the configuration folder is open to others";
  EXPECT_TRUE(QDir(QString::fromStdString(dir_ + "usr/bin")).isEmpty());
}

// Settings that cannot be written stop Convert before the grid is read: the grid named here has no header,
// so reading it first would report "Cannot open file". A configuration folder through a regular file
// cannot be made, by root either.
TEST_F(Form1Test, UnwritableSettingsStopConvertFirst) {
  WriteText(dir_ + "plain", "x");
  QDir().mkpath(QString::fromStdString(dir_ + "bin"));
  const ScopedConfigHome config(dir_ + "plain");
  TForm1& form = Open(dir_ + "bin/");
  TypeAndConvert(dir_ + "nothing.flt", dir_ + "out.IMG");
  EXPECT_EQ(dialogs_.messages.size(), 1u);
  ExpectMessage(0, FormDialogs::Icon::Critical, "Kavrimo", "Unable to write to " + dir_ + "plain/kavrimo/kavrimo.ini.");
  EXPECT_EQ(form.Label4->text(), QString());
  EXPECT_TRUE(form.Button3->isEnabled());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(dir_ + "out.IMG")));
}

// Each browse button: a choice replaces its field, a cancel keeps it, and its own dialog offers the name
// last chosen in it (never the field's text, never the other dialog's choice).
TEST_F(Form1Test, BrowseButtonsFilterReplaceCancelAndRemember) {
  TForm1& form = Open();
  const struct {
    QPushButton* button;
    QLineEdit* edit;
    const std::vector<FileRequest>& requests;
    const char* filter;
  } cases[] = {{form.Button1, form.Edit1, dialogs_.open_requests,
                "ArcGIS export raster (*.flt *.FLT);;ESRI ASCII grid (*.asc);;GeoTIFF (*.tif *.tiff)"},
               {form.Button2, form.Edit2, dialogs_.save_requests, "Miradel files (*.IMG *.img)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    QTest::keyClicks(c.edit, QStringLiteral("typed"));
    dialogs_.answers = {QStringLiteral("/x/first"), QString(), QStringLiteral("/y/second")};
    QTest::mouseClick(c.button, Qt::LeftButton);
    EXPECT_EQ(c.edit->text(), QStringLiteral("/x/first"));
    QTest::mouseClick(c.button, Qt::LeftButton);  // cancelled
    EXPECT_EQ(c.edit->text(), QStringLiteral("/x/first"));
    c.edit->setText(QStringLiteral("typed again"));
    QTest::mouseClick(c.button, Qt::LeftButton);
    EXPECT_EQ(c.edit->text(), QStringLiteral("/y/second"));
    ASSERT_EQ(c.requests.size(), 3u);
    for (const FileRequest& request : c.requests) EXPECT_EQ(request.filter, QString::fromLatin1(c.filter));
    EXPECT_EQ(c.requests[0].previous, QString());
    EXPECT_EQ(c.requests[1].previous, QStringLiteral("/x/first"));
    EXPECT_EQ(c.requests[2].previous, QStringLiteral("/x/first")) << "a cancel forgets nothing";
  }
  EXPECT_TRUE(dialogs_.messages.empty());
}

}  // namespace
}  // namespace kavrimo::testing
