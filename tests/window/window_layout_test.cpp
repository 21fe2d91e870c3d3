// The window's build (controls, texts, places, tab order, focus), its conversion host and the
// application title.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/window/app_identity.h"
#include "app/window/form1.h"
#include "app/window/window_host.h"
#include "tests/window/window_test_support.h"

namespace kavrimo::testing {
namespace {

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    form_ = std::make_unique<TForm1>(dir_.path(), &dialogs_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  QTemporaryDir dir_;
  RecordingDialogs dialogs_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(LayoutTest, ControlsCarryTheirNamesAndTexts) {
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("ArcGIS raster to Miradel image converter"));
  const struct {
    const char* name;
    const char* text;
  } texts[] = {{"Label1", "ArcGIS export raster (*.flt)"},
               {"Label2", "Miradel image to export"},
               {"Label4", ""},
               {"Label3", "Kavrimo - grids to Miradel images"}};
  for (const auto& expected : texts) {
    SCOPED_TRACE(expected.name);
    const auto* label = form_->findChild<QLabel*>(QString::fromLatin1(expected.name));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromLatin1(expected.text));
  }
  const struct {
    const char* name;
    const char* text;
  } buttons[] = {{"Button1", "..."}, {"Button2", "..."}, {"Button3", "Convert"}};
  for (const auto& expected : buttons) {
    SCOPED_TRACE(expected.name);
    const auto* button = form_->findChild<QPushButton*>(QString::fromLatin1(expected.name));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QString::fromLatin1(expected.text));
  }
  EXPECT_EQ(form_->findChild<QLineEdit*>(QStringLiteral("Edit1")), form_->Edit1);
  EXPECT_EQ(form_->findChild<QLineEdit*>(QStringLiteral("Edit2")), form_->Edit2);
  const auto* bar = form_->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);
}

TEST_F(LayoutTest, TextsFitAndNothingOverlaps) {
  const QRect client = form_->rect();
  const QList<QWidget*> controls = {form_->Label1,  form_->Label2,  form_->Edit1,
                                    form_->Edit2,   form_->Button1, form_->Button2,
                                    form_->Button3, form_->Label3,  form_->ProgressBar1};
  for (const QWidget* control : controls) {
    SCOPED_TRACE(control->objectName().toStdString());
    EXPECT_TRUE(client.contains(control->geometry())) << "outside the client area";
    for (const QWidget* other : controls) {
      if (other == control) continue;
      EXPECT_FALSE(control->geometry().intersects(other->geometry()))
          << "overlaps " << other->objectName().toStdString();
    }
  }
  for (const QLabel* label : {form_->Label1, form_->Label2, form_->Label3}) {
    SCOPED_TRACE(label->objectName().toStdString());
    const QFontMetrics metrics = label->fontMetrics();
    EXPECT_GE(label->width(), metrics.horizontalAdvance(label->text()));
    EXPECT_GE(label->height(), metrics.height());
  }
  const QFontMetrics metrics = form_->Button3->fontMetrics();
  EXPECT_LT(metrics.horizontalAdvance(form_->Button3->text()), form_->Button3->width());
  EXPECT_EQ(form_->font().pointSize(), 8);
}

TEST_F(LayoutTest, ControlsKeepTheirPlacesWhenResized) {
  const QRect edit = form_->Edit1->geometry();
  const QRect bar = form_->ProgressBar1->geometry();
  form_->resize(form_->width() + 200, form_->height() + 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(form_->Edit1->geometry(), edit);
  EXPECT_EQ(form_->ProgressBar1->geometry(), bar);
}

TEST_F(LayoutTest, TabOrderAndInitialFocus) {
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  EXPECT_EQ(QApplication::focusWidget(), form_->Edit1);
  const QWidget* expected[] = {form_->Edit2, form_->Button1, form_->Button2, form_->Button3,
                               form_->Edit1};
  for (const QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
}

class HostTest : public ::testing::Test {
 protected:
  QLabel label_;
  QProgressBar bar_;
  RecordingDialogs dialogs_;
  std::vector<std::pair<std::string, std::string>> saved_;
  WindowHost host_{label_, bar_, dialogs_, [this](const std::string& in, const std::string& out) {
                     saved_.emplace_back(in, out);
                   }};
};

TEST_F(HostTest, BusyCursorDoesNotStack) {
  host_.SetBusyCursor(true);
  host_.SetBusyCursor(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  host_.SetBusyCursor(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  host_.SetBusyCursor(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(HostTest, DestroyedWhileBusyRestoresCursor) {
  {
    WindowHost host(label_, bar_, dialogs_, [](const std::string&, const std::string&) {});
    host.SetBusyCursor(true);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(HostTest, PassesTextsToTheirPlaces) {
  host_.SetStatus("Max = 2000 and Min = 0");
  EXPECT_EQ(label_.text(), QStringLiteral("Max = 2000 and Min = 0"));
  EXPECT_GE(label_.width(), label_.fontMetrics().horizontalAdvance(label_.text()));
  host_.SetProgress(66);
  EXPECT_EQ(bar_.value(), 66);
  host_.SetProgress(140);
  EXPECT_EQ(bar_.value(), 100);
  host_.SaveNames("/a.flt", "/b.IMG");
  ASSERT_EQ(saved_.size(), 1u);
  EXPECT_EQ(saved_[0], std::make_pair(std::string("/a.flt"), std::string("/b.IMG")));
  host_.ShowInformation("Image created succesfully");
  host_.ShowError("No valid image attached");
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(dialogs_.messages[0].icon, FormDialogs::Icon::Information);
  EXPECT_EQ(dialogs_.messages[0].title, QStringLiteral("Information"));
  EXPECT_EQ(dialogs_.messages[0].text, QStringLiteral("Image created succesfully"));
  EXPECT_EQ(dialogs_.messages[1].icon, FormDialogs::Icon::Critical);
  EXPECT_EQ(dialogs_.messages[1].title, QStringLiteral("Error"));
  EXPECT_EQ(dialogs_.messages[1].text, QStringLiteral("No valid image attached"));
}

struct TitleCase {
  const char* path;
  const char* title;
};

class TitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(TitleTest, FromExecutableName) {
  SCOPED_TRACE(GetParam().path);
  EXPECT_EQ(TitleFromExecutable(QString::fromLatin1(GetParam().path)),
            QString::fromLatin1(GetParam().title));
}

INSTANTIATE_TEST_SUITE_P(Names, TitleTest,
                         ::testing::Values(TitleCase{"/usr/bin/kavrimo", "Kavrimo"},
                                           TitleCase{"C:/Programs/KAVRIMO.EXE", "Kavrimo"},
                                           TitleCase{"/opt/v1.2/kavrimo.tar.gz", "Kavrimo"},
                                           TitleCase{"kAVRIMO", "Kavrimo"},
                                           TitleCase{"/x/.hidden", ""}, TitleCase{"", ""}));

TEST(ApplicationIconTest, Is32By32) {
  const QIcon icon = ApplicationIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
}

}  // namespace
}  // namespace kavrimo::testing
