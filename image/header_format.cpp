// Header field layout, code lists, validity and per-type defaults of the image header.
#include "image/header_format.h"

#include <algorithm>
#include <cstring>

#include "runtime/errors.h"

namespace kavrimo::header_format {
namespace {

using Bytes = Real48::Bytes;

// The per-type defaults. Gain and Offset are given as their Real48 bytes (byte 0 first) so that the
// stored values are exactly the ones every image of the family carries.
struct TypeDefaults {
  std::uint8_t image_type;
  std::uint8_t min_value;
  std::uint8_t max_value;
  std::uint8_t missing_value;
  Bytes gain;
  Bytes offset;
  std::uint8_t decimals;
};

constexpr Bytes kZero{0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Bytes kOne{0x81, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Bytes kMinusOne{0x81, 0x00, 0x00, 0x00, 0x00, 0x80};
constexpr Bytes kTwo{0x82, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Bytes kMinus256{0x89, 0x00, 0x00, 0x00, 0x00, 0x80};
constexpr Bytes kOneOver256{0x79, 0x00, 0x00, 0x00, 0x00, 0x00};      // 0.00390625
constexpr Bytes kMinus0_3203125{0x7F, 0x00, 0x00, 0x00, 0x00, 0xA4};  // -82/256, exact
constexpr Bytes kOneOver128{0x7A, 0x00, 0x00, 0x00, 0x00, 0x00};      // 0.0078125
constexpr Bytes k0_008{0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03};

// Type 114's Offset is not in the table: it is -128 x Gain, worked out when the defaults are applied.
constexpr std::array<TypeDefaults, 16> kTypeDefaults = {{
    {0, 0, 255, 0, kOne, kZero, 0},
    {1, 2, 255, 0, kOneOver256, kMinus0_3203125, 2},
    {6, 2, 255, 0, {0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}, kMinusOne, 2},  // 0.01
    {10, 0, 253, 254, kOne, kZero, 0},
    // clang-format off
    {11, 0, 253, 254, {0x83, 0x00, 0x00, 0x00, 0x00, 0x00},                             // 4.0
     {0x82, 0x00, 0x00, 0x00, 0x00, 0x40}, 1},                                          // 3.0
    {12, 0, 253, 254, k0_008, {0x81, 0xE3, 0xA5, 0x9B, 0xC4, 0x80}, 2},                 // -1.006
    {13, 2, 253, 254, kOneOver256, kMinus0_3203125, 2},
    {14, 0, 250, 254, {0x78, 0x54, 0xE3, 0xA5, 0x9B, 0x44}, kZero, 2},                  // 0.003
    {100, 0, 255, 0, kTwo, kMinus256, 1},
    {101, 2, 255, 0, kOneOver128, kMinusOne, 3},
    {106, 2, 255, 0, {0x7B, 0x71, 0x3D, 0x0A, 0xD7, 0x23},                              // 0.02
     {0x82, 0x71, 0x3D, 0x0A, 0xD7, 0xA3}, 3},                                          // -2.56
    {110, 0, 253, 254, kTwo, kMinus256, 1},
    {111, 0, 253, 254, {0x84, 0x00, 0x00, 0x00, 0x00, 0x00},                            // 8.0
     {0x8B, 0x00, 0x00, 0x00, 0x00, 0x80}, 2},                                          // -1024.0
    {112, 0, 253, 254, k0_008, {0x81, 0x8D, 0x97, 0x6E, 0x12, 0x83}, 3},                // -1.024
    // clang-format on
    {113, 2, 253, 254, kOneOver128, kMinusOne, 3},
    {114, 0, 250, 254, {0x79, 0x54, 0xE3, 0xA5, 0x9B, 0x44}, kZero, 3},  // 0.006
}};

constexpr std::uint8_t kImageTypeCodes[] = {0, 1, 6, 10, 11, 12, 13, 100, 101, 106, 110, 111, 112, 113, 200, 14, 114};
constexpr std::uint8_t kProjectionCodes[] = {0, 2, 3, 4, 5, 6, 7, 8, 9};

// The accessors serve a const and a mutable header alike.
template <typename Header>
auto RealField(Header& h, HeaderFieldId id) -> decltype(&h.Gain) {
  switch (id) {
    case HeaderFieldId::RefLatitude: return &h.RefLatitude;
    case HeaderFieldId::RefLongitude: return &h.RefLongitude;
    case HeaderFieldId::RefColumn: return &h.RefColumn;
    case HeaderFieldId::RefRow: return &h.RefRow;
    case HeaderFieldId::ColumnSpacing: return &h.ColumnSpacing;
    case HeaderFieldId::RowSpacing: return &h.RowSpacing;
    case HeaderFieldId::ProjParam1: return &h.ProjParam1;
    case HeaderFieldId::ProjParam2: return &h.ProjParam2;
    case HeaderFieldId::Gain: return &h.Gain;
    case HeaderFieldId::Offset: return &h.Offset;
    default: return nullptr;
  }
}

template <typename Header>
auto ByteField(Header& h, HeaderFieldId id) -> decltype(&h.ImageType) {
  switch (id) {
    case HeaderFieldId::ImageType: return &h.ImageType;
    case HeaderFieldId::Projection: return &h.Projection;
    case HeaderFieldId::MinValue: return &h.MinValue;
    case HeaderFieldId::MaxValue: return &h.MaxValue;
    case HeaderFieldId::MissingValue: return &h.MissingValue;
    case HeaderFieldId::Decimals: return &h.Decimals;
    default: return nullptr;
  }
}

template <typename Header>
auto WordField(Header& h, HeaderFieldId id) -> decltype(&h.Rows) {
  switch (id) {
    case HeaderFieldId::Rows: return &h.Rows;
    case HeaderFieldId::Columns: return &h.Columns;
    default: return nullptr;
  }
}

}  // namespace

const FieldLayout* FindField(HeaderFieldId id) {
  for (const FieldLayout& field : kFields) {
    if (field.id == id) return &field;
  }
  return nullptr;
}

FieldBytes EncodeField(const TImageHeader& header, HeaderFieldId id) {
  FieldBytes out;
  const FieldLayout* field = FindField(id);
  if (field == nullptr) return out;
  out.size = static_cast<std::size_t>(field->size);
  if (const Real48* real = RealField(header, id)) {
    const Real48::Bytes b = real->ToBytes();
    std::copy(b.begin(), b.end(), out.data.begin());
  } else if (const std::uint8_t* byte = ByteField(header, id)) {
    out.data[0] = *byte;
  } else if (const std::int16_t* word = WordField(header, id)) {
    const auto u = static_cast<std::uint16_t>(*word);
    out.data[0] = static_cast<std::uint8_t>(u & 0xFFu);
    out.data[1] = static_cast<std::uint8_t>(u >> 8);
  } else {  // Comment
    std::memcpy(out.data.data(), header.Comment.data(), header.Comment.size());
  }
  return out;
}

void DecodeField(TImageHeader& header, HeaderFieldId id, const std::uint8_t* data) {
  if (FindField(id) == nullptr) return;
  if (Real48* real = RealField(header, id)) {
    Real48::Bytes b{};
    std::copy(data, data + b.size(), b.begin());
    *real = Real48::FromBytes(b);
  } else if (std::uint8_t* byte = ByteField(header, id)) {
    *byte = data[0];
  } else if (std::int16_t* word = WordField(header, id)) {
    *word = static_cast<std::int16_t>(static_cast<std::uint16_t>(data[0] | (data[1] << 8)));
  } else {  // Comment
    std::memcpy(header.Comment.data(), data, header.Comment.size());
  }
}

void ReadField(const BinaryFile& file, TImageHeader& header, const FieldLayout& field) {
  std::array<std::uint8_t, 80> data{};
  file.ReadAt(field.offset, data.data(), static_cast<std::size_t>(field.size));
  DecodeField(header, field.id, data.data());
}

void WriteField(BinaryFile& file, const TImageHeader& header, const FieldLayout& field) {
  const FieldBytes bytes = EncodeField(header, field.id);
  file.Seek(field.offset);
  file.WriteExactly(bytes.data.data(), bytes.size);
}

bool IsValidImageType(std::uint8_t code) {
  return std::find(std::begin(kImageTypeCodes), std::end(kImageTypeCodes), code) != std::end(kImageTypeCodes);
}

bool IsValidProjection(std::uint8_t code) {
  return std::find(std::begin(kProjectionCodes), std::end(kProjectionCodes), code) != std::end(kProjectionCodes);
}

bool IsValidHeader(std::size_t bytes_read, const TImageHeader& header) {
  return bytes_read >= kHeaderSize && IsValidImageType(header.ImageType) && IsValidProjection(header.Projection);
}

void ApplyTypeDefaults(TImageHeader& header) {
  if (header.ImageType == kPhysicalValuesType) {
    header.MinValue = 0;
    header.MaxValue = 253;
    header.MissingValue = 254;
    if (header.Decimals != 0) return;
    const long double gain = header.Gain.Extended();
    const long double offset = header.Offset.Extended();
    // The physical range of the data bytes; a negative Gain gives a negative range and so 3.
    const long double range = (gain * header.MaxValue + offset) - (gain * header.MinValue + offset);
    if (range <= 0.5L) {
      header.Decimals = 3;
    } else if (range <= 5.0L) {
      header.Decimals = 2;
    } else if (range <= 50.0L) {
      header.Decimals = 1;
    } else {
      header.Decimals = 0;
    }
    return;
  }
  // Codes outside the list (which a valid file cannot hold) get the plain byte scale.
  TypeDefaults d{header.ImageType, 0, 255, 0, kOne, kZero, 0};
  for (const TypeDefaults& row : kTypeDefaults) {
    if (row.image_type == header.ImageType) d = row;
  }
  header.MinValue = d.min_value;
  header.MaxValue = d.max_value;
  header.MissingValue = d.missing_value;
  header.Gain = Real48::FromBytes(d.gain);
  header.Offset = Real48::FromBytes(d.offset);
  header.Decimals = d.decimals;
  if (header.ImageType == 114) header.Offset = Real48::Round(-128.0L * header.Gain.Extended());
}

}  // namespace kavrimo::header_format
