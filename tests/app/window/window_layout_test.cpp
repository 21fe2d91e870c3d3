// The window's build (controls, texts, places, tab order, focus), its conversion host and the
// application title and icon.
#include <QScreen>
#include <cmath>

#include "app/window/app_identity.h"
#include "app/window/window_host.h"
#include "tests/app/window/window_test_support.h"

namespace kavrimo::testing {
namespace {

using LayoutTest = FormTest;

TEST_F(LayoutTest, ControlsCarryTheirNamesKindsAndTexts) {
  Open();
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("ArcGIS raster to Miradel image converter"));
  // Places and sizes at 96 dpi; labels size themselves to their text (width 0 here).
  const struct {
    const char *name, *kind, *text;
    int left, top, width, height;
  } controls[] = {{"Label1", "QLabel", "ArcGIS export raster (*.flt)", 16, 18, 0, 0},
                  {"Label2", "QLabel", "Miradel image to export", 16, 51, 0, 0},
                  {"Label3", "QLabel", "Kavrimo - grids to Miradel images", 280, 208, 0, 0},
                  {"Label4", "QLabel", "", 16, 120, 0, 0},
                  {"Edit1", "QLineEdit", "", 144, 16, 345, 21},
                  {"Edit2", "QLineEdit", "", 144, 48, 345, 21},
                  {"Button1", "QPushButton", "...", 496, 14, 33, 25},
                  {"Button2", "QPushButton", "...", 496, 46, 33, 25},
                  {"Button3", "QPushButton", "Convert", 16, 80, 75, 25},
                  {"ProgressBar1", "QProgressBar", "", 16, 144, 513, 16}};
  const double scale = form_->screen()->logicalDotsPerInch() / 96.0;
  const auto px = [scale](int pixels) { return static_cast<int>(std::lround(pixels * scale)); };
  for (const auto& expected : controls) {
    SCOPED_TRACE(expected.name);
    const QWidget* control = form_->findChild<QWidget*>(QString::fromLatin1(expected.name));
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->inherits(expected.kind));
    if (!control->inherits("QProgressBar")) {
      EXPECT_EQ(control->property("text").toString(), QString::fromLatin1(expected.text));
    }
    EXPECT_EQ(control->pos(), QPoint(px(expected.left), px(expected.top)));
    if (expected.width > 0) {
      EXPECT_EQ(control->size(), QSize(px(expected.width), px(expected.height)));
    }
  }
  ASSERT_EQ(form_->findChild<QProgressBar*>(QStringLiteral("ProgressBar1")), form_->ProgressBar1);
  EXPECT_EQ(form_->ProgressBar1->minimum(), 0);
  EXPECT_EQ(form_->ProgressBar1->maximum(), 100);
  EXPECT_EQ(form_->ProgressBar1->value(), 0);
}

TEST_F(LayoutTest, TextsFitNothingOverlapsAndPlacesSurviveResizing) {
  Open();
  const QList<QWidget*> controls = {form_->Label1,  form_->Label2,  form_->Edit1,  form_->Edit2,       form_->Button1,
                                    form_->Button2, form_->Button3, form_->Label3, form_->ProgressBar1};
  QList<QRect> places;
  for (const QWidget* control : controls) {
    SCOPED_TRACE(control->objectName().toStdString());
    places.append(control->geometry());
    EXPECT_TRUE(form_->rect().contains(control->geometry())) << "outside the client area";
    for (const QWidget* other : controls) {
      EXPECT_TRUE(other == control || !control->geometry().intersects(other->geometry()))
          << "overlaps " << other->objectName().toStdString();
    }
  }
  for (const QLabel* label : {form_->Label1, form_->Label2, form_->Label3}) {
    SCOPED_TRACE(label->objectName().toStdString());
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
    EXPECT_GE(label->height(), label->fontMetrics().height());
  }
  EXPECT_LT(form_->Button3->fontMetrics().horizontalAdvance(form_->Button3->text()), form_->Button3->width());
  EXPECT_EQ(form_->font().pointSize(), 8);

  form_->resize(form_->width() + 200, form_->height() + 100);
  QCoreApplication::processEvents();
  for (qsizetype i = 0; i < controls.size(); ++i) EXPECT_EQ(controls[i]->geometry(), places[i]);
}

TEST_F(LayoutTest, TabOrderAndInitialFocus) {
  Open();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  EXPECT_EQ(QApplication::focusWidget(), form_->Edit1);
  const QWidget* const order[] = {form_->Edit2, form_->Button1, form_->Button2, form_->Button3, form_->Edit1};
  for (const QWidget* next : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
}

// What the Convert command reaches through its host beyond the window tests: the cursor never stacks and
// is given back by a host destroyed while busy, the progress is clamped, errors go to a box titled "Error".
TEST(WindowHostTest, CursorProgressAndErrorBox) {
  QLabel label;
  QProgressBar bar;
  RecordingDialogs dialogs;
  {
    WindowHost host(label, bar, dialogs);
    host.SetBusyCursor(true);
    host.SetBusyCursor(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    host.SetBusyCursor(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    host.SetBusyCursor(true);
    host.SetProgress(140);
    EXPECT_EQ(bar.value(), 100);
    host.ShowError("No valid image attached");
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].icon, FormDialogs::Icon::Critical);
  EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Error"));
  EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("No valid image attached"));
}

TEST(AppIdentityTest, TitleFromExecutableNameAnd32By32Icon) {
  const std::pair<const char*, const char*> cases[] = {{"/usr/bin/kavrimo", "Kavrimo"},
                                                       {"C:/Programs/KAVRIMO.EXE", "Kavrimo"},
                                                       {"/opt/v1.2/kavrimo.tar.gz", "Kavrimo"},
                                                       {"/x/.hidden", ""},
                                                       {"", ""}};
  for (const auto& [path, title] : cases) {
    EXPECT_EQ(TitleFromExecutable(QString::fromLatin1(path)), QString::fromLatin1(title)) << path;
  }
  const QIcon icon = ApplicationIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
}

}  // namespace
}  // namespace kavrimo::testing
