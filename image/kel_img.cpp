// TKelImg: attaching to an image file, write-through property sets, creating files from a template.
#include "image/kel_img.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/header_format.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/system.h"

namespace kavrimo {
namespace {

constexpr char kNoImageMessage[] = "No valid image attached";
constexpr char kCreatorStamp[] = "ZUB/Marentaal 1994-";
constexpr std::size_t kFillBufferSize = 8192;

}  // namespace

TKelImg::TKelImg(ImageUi& ui) : ui_(ui) {}

void TKelImg::SetFileName(const std::string& path) {
  file_name_ = path;
  SetFileMode(OpenMode::ReadOnly);
  BinaryFile file = BinaryFile::OpenExisting(path);

  std::array<std::uint8_t, header_format::kHeaderSize> first{};
  const std::size_t bytes_read = file.Read(first.data(), first.size());

  TImageHeader header;
  for (const header_format::FieldLayout& field : header_format::kFields) {
    header_format::ReadField(file, header, field);
  }
  const bool valid = header_format::IsValidHeader(bytes_read, header);
  if (valid) header_format::ApplyTypeDefaults(header);
  memory_header_ = header;
  state_ = valid ? ImageState::ValidImage : ImageState::InvalidImage;
  file.Close();
  if (!valid) return;

  properties_ = memory_header_;
  ComputeDerivedValues();
}

template <typename Integer>
void TKelImg::SetIntegerField(Integer TImageHeader::*field, Integer value, HeaderFieldId id) {
  if (state_ != ImageState::ValidImage) {
    ReportNoImage();
    return;
  }
  if (value == properties_.*field) return;
  properties_.*field = value;
  memory_header_.*field = value;
  WriteHeaderField(id);
}

void TKelImg::SetRealField(Real48 TImageHeader::*field, double value, HeaderFieldId id) {
  if (state_ != ImageState::ValidImage) {
    ReportNoImage();
    return;
  }
  // Compared unrounded: a value that Real48 cannot hold exactly always counts as a change.
  if (value == (properties_.*field).Value()) return;
  const Real48 rounded = Real48::Round(value);  // raises EOverflow before anything changes
  properties_.*field = rounded;
  memory_header_.*field = rounded;
  WriteHeaderField(id);
}

void TKelImg::SetImageType(std::uint8_t value) {
  SetIntegerField(&TImageHeader::ImageType, value, HeaderFieldId::ImageType);
}
void TKelImg::SetProjection(std::uint8_t value) {
  SetIntegerField(&TImageHeader::Projection, value, HeaderFieldId::Projection);
}
void TKelImg::SetRows(std::int16_t value) { SetIntegerField(&TImageHeader::Rows, value, HeaderFieldId::Rows); }
void TKelImg::SetColumns(std::int16_t value) { SetIntegerField(&TImageHeader::Columns, value, HeaderFieldId::Columns); }
void TKelImg::SetRefLatitude(double value) {
  SetRealField(&TImageHeader::RefLatitude, value, HeaderFieldId::RefLatitude);
}
void TKelImg::SetRefLongitude(double value) {
  SetRealField(&TImageHeader::RefLongitude, value, HeaderFieldId::RefLongitude);
}
void TKelImg::SetRefColumn(double value) { SetRealField(&TImageHeader::RefColumn, value, HeaderFieldId::RefColumn); }
void TKelImg::SetRefRow(double value) { SetRealField(&TImageHeader::RefRow, value, HeaderFieldId::RefRow); }
void TKelImg::SetColumnSpacing(double value) {
  SetRealField(&TImageHeader::ColumnSpacing, value, HeaderFieldId::ColumnSpacing);
}
void TKelImg::SetRowSpacing(double value) { SetRealField(&TImageHeader::RowSpacing, value, HeaderFieldId::RowSpacing); }
void TKelImg::SetGain(double value) { SetRealField(&TImageHeader::Gain, value, HeaderFieldId::Gain); }
void TKelImg::SetOffset(double value) { SetRealField(&TImageHeader::Offset, value, HeaderFieldId::Offset); }
void TKelImg::SetDecimals(std::uint8_t value) {
  SetIntegerField(&TImageHeader::Decimals, value, HeaderFieldId::Decimals);
}

void TKelImg::WriteHeaderField(HeaderFieldId id) {
  if (!FileExists(file_name_)) {
    ReportNoImage();
    return;
  }
  SetFileMode(OpenMode::WriteOnly);
  BinaryFile file = BinaryFile::OpenExisting(file_name_);  // closed by its destructor on failure
  if (const header_format::FieldLayout* field = header_format::FindField(id)) {
    header_format::WriteField(file, memory_header_, *field);
  }
  file.Close();
}

void TKelImg::CreateFromTemplate(const std::string& new_file_name, bool header_only) {
  const std::string stamp = PadToWidth(kCreatorStamp + std::to_string(CurrentLocalYear()), 80);
  std::copy(stamp.begin(), stamp.end(), memory_header_.Comment.begin());
  const std::vector<std::uint8_t> fill(kFillBufferSize, memory_header_.MissingValue);

  BusyCursor busy(ui_);
  if (state_ != ImageState::ValidImage) {
    ReportNoImage();
    return;
  }
  // The file's size in 32-bit arithmetic, as the format has always worked it out: header plus
  // Rows x Columns pixels. Rows and Columns are signed 16-bit, so the product fits.
  constexpr auto kHeader = static_cast<std::int32_t>(header_format::kHeaderSize);
  const std::int32_t size = std::int32_t{properties_.Rows} * std::int32_t{properties_.Columns} + kHeader;

  SetFileMode(OpenMode::WriteOnly);
  BinaryFile file = BinaryFile::Create(new_file_name);
  try {
    const std::array<std::uint8_t, header_format::kHeaderSize> zeros{};
    file.WriteExactly(zeros.data(), zeros.size());
    if (!header_only) {
      // With p = size - kHeader pixels: (p - 1) div 8192 full buffers, then ((p - 1) mod 8192) + 1
      // bytes, which is exactly p bytes for p >= 1. For p <= 0 both division and remainder truncate
      // toward zero, so blocks and rest are at most 0: nothing is written.
      const std::int32_t blocks = (size - kHeader - 1) / static_cast<std::int32_t>(kFillBufferSize);
      const std::int32_t rest = (size - kHeader - 1) % static_cast<std::int32_t>(kFillBufferSize) + 1;
      for (std::int32_t i = 0; i < blocks; ++i) file.WriteExactly(fill.data(), fill.size());
      // The remainder goes out in one write rather than byte by byte; the bytes are the same.
      if (rest > 0) file.WriteExactly(fill.data(), static_cast<std::size_t>(rest));
    }
    for (const header_format::FieldLayout& field : header_format::kFields) {
      header_format::WriteField(file, memory_header_, field);
    }
    file.Close();
  } catch (...) {
    // A failure part-way leaves no half-written image behind (a device or the like is left alone).
    file = BinaryFile();
    std::error_code ignored;
    if (std::filesystem::is_regular_file(new_file_name, ignored)) std::remove(new_file_name.c_str());
    throw;
  }
}

void TKelImg::ReportNoImage() {
  if (!file_name_.empty()) ui_.ShowError(kNoImageMessage);
}

std::string TKelImg::PadToWidth(const std::string& text, int width) {
  if (width <= 0) return {};
  std::string out = text.substr(0, static_cast<std::size_t>(width));
  out.resize(static_cast<std::size_t>(width), ' ');
  return out;
}

}  // namespace kavrimo
