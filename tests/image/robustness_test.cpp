// Attaching thousands of random and truncated files: the component may raise only the runtime's own
// errors, and judges validity exactly by size and codes.
#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "image/kel_img.h"
#include "image_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

namespace off = test::off;

const std::set<int> kTypes = {0, 1, 6, 10, 11, 12, 13, 14, 100, 101, 106, 110, 111, 112, 113, 114, 200};
const std::set<int> kProjections = {0, 2, 3, 4, 5, 6, 7, 8, 9};

TEST(AttachRobustness, RandomAndTruncatedFilesRaiseOnlyRuntimeErrors) {
  // Thousands of opens: in memory where the system offers it.
  std::error_code ignored;
  test::TempDir dir(std::filesystem::is_directory("/dev/shm", ignored)
                        ? std::filesystem::path("/dev/shm")
                        : std::filesystem::temp_directory_path());
  const std::string path = dir.File("random.img");
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> byte(0, 255);
  const int type_list[] = {0, 1, 6, 10, 11, 12, 13, 14, 100, 101, 106, 110, 111, 112, 113, 114, 200};
  int valid = 0, raised = 0;

  for (int i = 0; i < 3000; ++i) {
    SCOPED_TRACE("file " + std::to_string(i));
    std::size_t size = 512;
    switch (i % 4) {
      case 0: size = static_cast<std::size_t>(rng() % 600); break;        // anything up to a bit past 512
      case 1: size = 511; break;                                          // one byte short
      default: size = 512 + static_cast<std::size_t>(rng() % 64); break;  // full header
    }
    test::ByteVector bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(rng));
    // Mostly valid codes, so that the defaults and the projections are reached.
    if (size > off::kProjection && rng() % 5 != 0) {
      bytes[off::kImageType] = static_cast<std::uint8_t>(type_list[rng() % 17]);
      bytes[off::kProjection] = static_cast<std::uint8_t>(rng() % 10);
    }
    // Small sane geometry for some, so the projections see positions inside their domains as well.
    if (size >= 512 && i % 3 == 0) {
      test::HeaderBytes h;
      h.Bytes() = bytes;
      h.I16(off::kRows, static_cast<std::int16_t>(rng() % 50 + 1))
          .I16(off::kColumns, static_cast<std::int16_t>(rng() % 50 + 1))
          .Real(off::kRefLatitude, static_cast<int>(rng() % 180) - 90)
          .Real(off::kRefLongitude, static_cast<int>(rng() % 360) - 180)
          .Real(off::kColumnSpacing, 0.001L * (rng() % 1000 + 1))
          .Real(off::kRowSpacing, 0.001L * (rng() % 1000 + 1));
      bytes = h.Bytes();
    }
    test::WriteBytes(path, bytes);

    test::RecordingUi ui;
    TKelImg img(ui);
    try {
      img.SetFileName(path);
    } catch (const Error&) {
      ++raised;  // a floating-point error of the corner computation
    } catch (const std::exception& e) {
      FAIL() << "unexpected exception: " << e.what();
    }
    const bool expect_valid = size >= 512 && kTypes.count(bytes[off::kImageType]) == 1 &&
                              kProjections.count(bytes[off::kProjection]) == 1;
    ASSERT_EQ(img.State(), expect_valid ? ImageState::ValidImage : ImageState::InvalidImage);
    ASSERT_TRUE(ui.errors.empty());
    if (expect_valid) ++valid;
  }
  // The mix reached both outcomes.
  EXPECT_GT(valid, 1000);
  EXPECT_LT(raised, valid);
}

}  // namespace
}  // namespace kavrimo
