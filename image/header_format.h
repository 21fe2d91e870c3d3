// The byte layout of the 512-byte image header: where each field lives, the code lists that make a
// file a valid image, the per-type defaults, and reading or writing one field at its own offset.
//
// Fields are always transferred one at a time from their own offsets; the header record is never
// written or read as a memory image. Multi-byte integers are little-endian, reals are Real48.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "projection/image_header.h"
#include "runtime/file.h"

namespace kavrimo {

// Identifies a header field (TKelImg::WriteHeaderField). 0, 1, 4, 7 and 9 name no field.
enum class HeaderFieldId : int {
  ImageType = 2,
  Projection = 3,
  Rows = 5,
  Columns = 6,
  Comment = 8,
  RefLatitude = 10,
  RefLongitude = 11,
  RefColumn = 12,
  RefRow = 13,
  ColumnSpacing = 14,
  RowSpacing = 15,
  ProjParam1 = 16,
  ProjParam2 = 17,
  MinValue = 18,
  MaxValue = 19,
  MissingValue = 20,
  Gain = 21,
  Offset = 22,
  Decimals = 23,
};

namespace header_format {

// The header's size in bytes; the pixel data starts here.
inline constexpr std::size_t kHeaderSize = 512;

// The image type of physical values: its Gain and Offset, kept from the file, give byte x Gain + Offset,
// the data bytes run from 0 to 253 and 254 marks a missing value. Converted grids are of this type.
inline constexpr std::uint8_t kPhysicalValuesType = 200;

// One header field: its identifier, byte offset from the start of the file and size in bytes.
struct FieldLayout {
  HeaderFieldId id;
  int offset;
  int size;
};

// The 19 header fields in offset order.
inline constexpr std::array<FieldLayout, 19> kFields = {{
    {HeaderFieldId::ImageType, 22, 1},      {HeaderFieldId::Projection, 23, 1},  {HeaderFieldId::Rows, 30, 2},
    {HeaderFieldId::Columns, 32, 2},        {HeaderFieldId::Comment, 38, 80},    {HeaderFieldId::RefLatitude, 120, 6},
    {HeaderFieldId::RefLongitude, 126, 6},  {HeaderFieldId::RefColumn, 132, 6},  {HeaderFieldId::RefRow, 138, 6},
    {HeaderFieldId::ColumnSpacing, 144, 6}, {HeaderFieldId::RowSpacing, 150, 6}, {HeaderFieldId::ProjParam1, 156, 6},
    {HeaderFieldId::ProjParam2, 162, 6},    {HeaderFieldId::MinValue, 168, 1},   {HeaderFieldId::MaxValue, 169, 1},
    {HeaderFieldId::MissingValue, 170, 1},  {HeaderFieldId::Gain, 171, 6},       {HeaderFieldId::Offset, 177, 6},
    {HeaderFieldId::Decimals, 183, 1},
}};

// The layout of a field, or nullptr for an identifier that names no field (0, 1, 4, 7, 9, others).
const FieldLayout* FindField(HeaderFieldId id);

// The encoded bytes of one field (at most 80, the Comment).
struct FieldBytes {
  std::array<std::uint8_t, 80> data{};
  std::size_t size = 0;
};

// The bytes of field id as they stand in header; empty for an identifier that names no field.
FieldBytes EncodeField(const TImageHeader& header, HeaderFieldId id);
// Sets field id of header from size bytes at data (size must be the field's size). Never raises:
// every byte pattern decodes to a finite value.
void DecodeField(TImageHeader& header, HeaderFieldId id, const std::uint8_t* data);

// Reads one field from its offset in file into header. Bytes beyond the end of the file read as
// zero (a short read is not an error). Raises EInOutError when the read itself fails.
void ReadField(const BinaryFile& file, TImageHeader& header, const FieldLayout& field);
// Writes one field of header to its offset in file. Raises EInOutError when the write fails or
// stops short.
void WriteField(BinaryFile& file, const TImageHeader& header, const FieldLayout& field);

// The 17 image type codes: 0, 1, 6, 10 to 14, 100, 101, 106, 110 to 114, 200.
bool IsValidImageType(std::uint8_t code);
// The 9 projection codes: 0 and 2 to 9.
bool IsValidProjection(std::uint8_t code);
// A file is a valid image when a full header came back and both codes are in their lists.
bool IsValidHeader(std::size_t bytes_read, const TImageHeader& header);

// Overwrites MinValue, MaxValue, MissingValue, Gain, Offset and Decimals by ImageType. Type 200 keeps
// Gain and Offset, and its Decimals unless that is 0, when it follows from the physical range.
void ApplyTypeDefaults(TImageHeader& header);

}  // namespace header_format
}  // namespace kavrimo
