// The Convert command, step by step. Both passes stream the grid in blocks; the output is checked before
// anything is read, built under a temporary name and put in place when complete.
#include "app/conversion/conversion.h"

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "app/conversion/cell_coding.h"
#include "app/conversion/grid_input_factory.h"
#include "app/conversion/passes.h"
#include "app/grid/grid_header.h"
#include "image/header_format.h"
#include "image/image_pixels.h"
#include "projection/dispatcher.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/number_text.h"
#include "runtime/temporary_output.h"

namespace kavrimo {
namespace {

void StartPass(ConversionHost& host, const char* status) {
  host.SetProgress(0);
  host.SetStatus(status);
  host.ProcessMessages();
}

// Decimals shown for the physical values; -1 leaves the template's value.
int DecimalsForSlope(float slope) {
  if (slope > 1.0) return 0;
  if (slope > 0.1) return 1;
  if (slope > 0.01) return 2;
  if (slope > 0.001) return 3;
  return -1;
}

void WriteImageHeader(TKelImg& image, const GridHeader& header, const CellScale& scale) {
  image.SetColumns(static_cast<std::int16_t>(header.ncols));
  image.SetRows(static_cast<std::int16_t>(header.nrows));
  image.SetGain(scale.slope);
  image.SetOffset(scale.intercept);
  image.SetImageType(header_format::kPhysicalValuesType);
  image.SetProjection(kGeographic);
  image.SetRefLongitude(header.xllcorner);
  // The top edge of the grid, worked out in extended precision and handed over as a double.
  const long double top = static_cast<long double>(header.nrows) * header.RowSpacing() + header.yllcorner;
  image.SetRefLatitude(static_cast<double>(top));
  image.SetRefColumn(0);
  image.SetRefRow(0);
  image.SetColumnSpacing(header.cellsize);
  image.SetRowSpacing(header.RowSpacing());
  if (const int decimals = DecimalsForSlope(scale.slope); decimals >= 0) {
    image.SetDecimals(static_cast<std::uint8_t>(decimals));
  }
}

}  // namespace

int DefaultThreadCount() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

std::string OutsideCountsText(const OutsideCounts& outside) {
  return std::to_string(outside.below) + " cells below the range coded 0 and " + std::to_string(outside.above) +
         " above it coded 253";
}

ConversionResult Convert(const ConversionRequest& request, TKelImg& KelImg1, ConversionHost& host) {
  const std::string& template_path = request.template_path;  // named in messages as the user gave it
  std::vector<std::string> reads = request.mosaic ? MosaicInputFiles(*request.mosaic) : GridInputFiles(request.input);
  reads.push_back(template_path);
  // The output is checked before anything is read: never a special file, never a file read here.
  TemporaryOutput temporary(request.output, reads, request.swept);

  std::unique_ptr<GridInput> grid;
  if (request.mosaic) {
    auto mosaic = std::make_unique<MosaicGridInput>(*request.mosaic, request.output, request.swept, request.threads);
    host.SetStatus(mosaic->Summary());
    grid = std::move(mosaic);
  } else {
    grid = ReadGridInput(request.input, request.output, request.swept);
  }
  const GridHeader& header = grid->Header();
  CheckConvertibleSize(header.ncols, header.nrows);
  const PassOptions options{request.threads};
  const ProgressSink progress = [&host](int position) { host.SetProgress(position); };

  grid->OpenData();
  temporary.Reserve();
  CellRange range;
  if (request.fixed_range) {
    range = *request.fixed_range;  // the grid is read once, in pass 2
  } else {
    StartPass(host, "Step 1 of 2");
    range = grid->ScanRange(progress, options);
  }
  host.SetStatus("Max = " + FormatReal(range.maximum) + " and Min = " + FormatReal(range.minimum));
  const CellScale scale = ScaleFor(range);
  host.SetStatus("Slope = " + FormatReal(scale.slope) + " and Intecept = " + FormatReal(scale.intercept));

  KelImg1.SetFileName(template_path);
  if (KelImg1.State() != ImageState::ValidImage) {
    throw ECommandError("Template " + template_path + " is not a valid image");
  }
  OutsideCounts outside;
  temporary.Build([&] {
    KelImg1.CreateFromTemplate(temporary.Path(), true);
    KelImg1.SetFileName(temporary.Path());
    WriteImageHeader(KelImg1, header, scale);

    SetFileMode(OpenMode::ReadWrite);
    ImagePixels output = ImagePixels::OpenForWriting(temporary.Path());
    StartPass(host, "Step 2 of 2");
    outside = grid->CodeGrid(request.fixed_range ? GridCoding{FixedScale{scale, range}} : GridCoding{scale}, output,
                             progress, options);
    grid->Close();
    output.Close();
  });
  if (outside.below != 0 || outside.above != 0) host.SetStatus(OutsideCountsText(outside));
  temporary.Commit();
  // The image is complete and in place. Its corner values (from a huge cell size, say) may overflow
  // on attaching; the component is attached all the same, and that is no failure of the conversion.
  try {
    KelImg1.SetFileName(request.output);
  } catch (const EMathError&) {
  }
  host.ShowInformation("Image created succesfully");
  return {range, scale, outside};
}

}  // namespace kavrimo
