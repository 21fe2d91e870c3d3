// The GeoTIFF module's entry point: the reader, the writer and the coordinate-system lookup behind the
// interfaces of geotiff_library.h. Built into kavrimo_geotiff.so only.
#include "app/grid/geotiff_library.h"
#include "kavrimo_version.h"

namespace kavrimo {
namespace {

class ReaderDecoder final : public GeoTiffDecoder {
 public:
  explicit ReaderDecoder(const std::string& path) : reader_(path) {}
  const GeoTiffInfo& Info() const override { return reader_.Info(); }
  const float* DecodeBlock(std::int64_t block_x, std::int64_t block_y) override {
    return reader_.DecodeBlock(block_x, block_y);
  }
  void FreeBuffers() override { reader_.FreeBuffers(); }

 private:
  GeoTiffReader reader_;
};

class WriterEncoder final : public GeoTiffEncoder {
 public:
  WriterEncoder(const std::string& path, const GeoTiffGridDescription& grid) : writer_(path, grid) {}
  void WriteRows(std::int64_t first_row, std::int64_t count, const float* cells) override {
    writer_.WriteRows(first_row, count, cells);
  }
  void Finish() override { writer_.Finish(); }

 private:
  GeoTiffWriter writer_;
};

const GeoTiffModule kModule{
    .version = kVersion,
    .open = [](const std::string& path) -> std::unique_ptr<GeoTiffDecoder> {
      return std::make_unique<ReaderDecoder>(path);
    },
    .create = [](const std::string& path, const GeoTiffGridDescription& grid) -> std::unique_ptr<GeoTiffEncoder> {
      return std::make_unique<WriterEncoder>(path, grid);
    },
    .look_up = LookUpGeographicSystem,
};

}  // namespace
}  // namespace kavrimo

extern "C" __attribute__((visibility("default"))) const kavrimo::GeoTiffModule* KavrimoGeoTiffModule() {
  return &kavrimo::kModule;
}
