#include "tests/support/grid_files.h"

#include <cstdio>
#include <cstring>

#include "image/kel_img.h"
#include "runtime/errors.h"
#include "runtime/real48.h"

namespace kavrimo::testing_support {

double Real48At(const std::vector<std::uint8_t>& file, std::size_t offset) {
  Real48::Bytes b;
  std::memcpy(b.data(), &file[offset], b.size());
  return Real48::FromBytes(b).Value();
}

void WriteGrid(const std::string& base, int ncols, int nrows, const std::vector<float>& cells,
               const std::string& extra_header, bool big_endian, float xllcorner, float yllcorner, float cellsize) {
  char header[512];
  std::snprintf(header, sizeof header, "ncols %d\nnrows %d\nxllcorner %.9g\nyllcorner %.9g\ncellsize %.9g\n", ncols,
                nrows, static_cast<double>(xllcorner), static_cast<double>(yllcorner), static_cast<double>(cellsize));
  WriteText(base + ".hdr", header + extra_header);
  WriteText(base + ".flt", CellBytes(cells, big_endian));
}

ImagePixels NewImagePixels(const std::string& path) {
  BinaryFile::Create(path).Close();
  return ImagePixels::OpenForWriting(path);
}

std::string TemplatePath() { return KAVRIMO_TEMPLATE_PATH; }

std::string ConvertMessage(const ConversionRequest& request, ConversionHost& host) {
  TKelImg image(host);
  // clang-format off
  try { Convert(request, image, host); } catch (const Error& e) { return e.Message(); }
  // clang-format on
  return "";
}

void RecordingHost::SetStatus(const std::string& text) {
  events.push_back("status " + text);
  statuses.push_back(text);
}
void RecordingHost::SetProgress(int position) {
  events.push_back("progress " + std::to_string(position));
  progress.push_back(position);
}
void RecordingHost::ProcessMessages() { events.push_back("process"); }
void RecordingHost::ShowInformation(const std::string& text) { events.push_back("info " + text); }
void RecordingHost::ShowError(const std::string& text) { events.push_back("error " + text); }
void RecordingHost::SetBusyCursor(bool on) {
  events.push_back(on ? "busy 1" : "busy 0");
  busy = on;
}

}  // namespace kavrimo::testing_support
