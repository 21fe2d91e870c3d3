// The header template header.bin that the build writes beside the executables.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "image/kel_img.h"
#include "image_test_support.h"

namespace kavrimo {
namespace {

namespace off = test::off;

TEST(HeaderTemplate, IsAValidType200GeographicImage) {
  const std::string path = KAVRIMO_TEMPLATE_PATH;
  const test::ByteVector bytes = test::ReadBytes(path);
  ASSERT_EQ(bytes.size(), 512u) << path;

  test::RecordingUi ui;
  TKelImg img(ui);
  img.SetFileName(path);
  ASSERT_EQ(img.State(), ImageState::ValidImage);
  EXPECT_EQ(img.ImageType(), 200);
  EXPECT_EQ(img.Projection(), 3);
  EXPECT_EQ(img.Rows(), 1);
  EXPECT_EQ(img.Columns(), 1);
  EXPECT_EQ(img.Gain(), 1.0);
  EXPECT_EQ(img.Offset(), 0.0);
  EXPECT_EQ(img.Decimals(), 3);
  EXPECT_EQ(bytes[off::kDecimals], 3);  // stored, not derived on attaching
  EXPECT_EQ(img.Comment().rfind("ZUB/Marentaal 1994-", 0), 0u);
  EXPECT_EQ(img.Comment().size(), 80u);
  EXPECT_TRUE(ui.errors.empty());

  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool interpreted = (i >= 22 && i < 24) || (i >= 30 && i < 34) || (i >= 38 && i < 118) ||
                             (i >= 120 && i < 184);
    if (!interpreted) {
      ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
}

}  // namespace
}  // namespace kavrimo
