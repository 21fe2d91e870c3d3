// The Convert command, step by step. Both passes stream the data file in blocks; the output is built
// under a temporary name and renamed over the output name when complete.
#include "app/conversion/conversion.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/conversion/cell_coding.h"
#include "app/grid/grid_header.h"
#include "runtime/number_text.h"
#include "app/conversion/passes.h"
#include "runtime/temporary_output.h"
#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo {
namespace {

constexpr int kMaxImageSide = 32767;

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
  image.SetImageType(200);
  image.SetProjection(3);
  image.SetRefLongitude(header.xllcorner);
  // The top edge of the grid, worked out in extended precision and handed over as a double.
  const long double top = static_cast<long double>(header.nrows) * header.cellsize + header.yllcorner;
  image.SetRefLatitude(static_cast<double>(top));
  image.SetRefColumn(0);
  image.SetRefRow(0);
  image.SetColumnSpacing(header.cellsize);
  image.SetRowSpacing(header.cellsize);
  if (const int decimals = DecimalsForSlope(scale.slope); decimals >= 0) {
    image.SetDecimals(static_cast<std::uint8_t>(decimals));
  }
}

std::string Format(const char* pattern, long long a, long long b) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

}  // namespace

int DefaultThreadCount() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

void Convert(const ConversionRequest& request, TKelImg& KelImg1, ConversionHost& host) {
  SetDecimalSeparator('.');
  BusyCursor busy(host);
  host.SaveNames(request.input, request.output);

  std::error_code ignored;  // an empty name stays empty and fails to open as any bad name does
  const std::string template_path = std::filesystem::absolute(request.template_path, ignored).string();
  const std::string header_name = ReplaceExtension(request.input, ".hdr");
  const std::string data_name = ReplaceExtension(request.input, ".flt");
  // The output is checked before anything is read: never a special file, never a file read here.
  TemporaryOutput temporary(request.output, {header_name, data_name, template_path}, request.swept);

  const GridHeader header = ReadGridHeader(request.input);
  if (header.ncols < 1 || header.ncols > kMaxImageSide || header.nrows < 1 || header.nrows > kMaxImageSide) {
    throw ECommandError(Format("Grid of %lld columns and %lld rows cannot be converted: a Miradel image "
                               "holds 1 to 32767 of each",
                               header.ncols, header.nrows));
  }
  const PassOptions options{std::max(1, request.threads)};
  const ProgressSink progress = [&host](int position) { host.SetProgress(position); };

  BinaryFile data = BinaryFile::OpenExisting(data_name, OpenMode::ReadOnly);
  temporary.Reserve();
  StartPass(host, "Step 1 of 2");
  const CellRange range = ScanRange(data, header, progress, options);
  host.SetStatus("Max = " + FormatReal(range.maximum) + " and Min = " + FormatReal(range.minimum));
  const CellScale scale = ScaleFor(range);
  host.SetStatus("Slope = " + FormatReal(scale.slope) + " and Intecept = " + FormatReal(scale.intercept));

  KelImg1.SetFileName(template_path);
  if (KelImg1.State() != ImageState::ValidImage) {
    throw ECommandError("Template " + template_path + " is not a valid image");
  }
  temporary.Build([&] {
    KelImg1.CreateFromTemplate(temporary.Path(), true);
    KelImg1.SetFileName(temporary.Path());
    WriteImageHeader(KelImg1, header, scale);

    SetFileMode(OpenMode::ReadWrite);
    BinaryFile output = BinaryFile::OpenExisting(temporary.Path());
    StartPass(host, "Step 2 of 2");
    CodeGrid(data, header, scale, output, progress, options);
    data.Close();
    output.Close();
  });
  temporary.Commit();
  // The image is complete and in place. Its corner values (from a huge cell size, say) may overflow
  // on attaching; the component is attached all the same, and that is no failure of the conversion.
  try {
    KelImg1.SetFileName(request.output);
  } catch (const EMathError&) {
  }
  busy.Release();
  host.ShowInformation("Image created succesfully");
}

}  // namespace kavrimo
