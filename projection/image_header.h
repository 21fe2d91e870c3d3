// TImageHeader: the in-memory header of an image file, field by field.
//
// The image component fills it from a file's header (each field from its own offset) and the
// projection dispatcher reads it to turn pixel positions into latitude and longitude. Real fields hold
// Real48 values exactly; their byte layout on disk is the image component's business.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/real48.h"

namespace kavrimo {

struct TImageHeader {
  std::uint8_t ImageType = 0;
  std::uint8_t Projection = 0;
  std::int16_t Rows = 0;
  std::int16_t Columns = 0;
  std::array<char, 80> Comment{};  // exactly 80 characters, no terminator
  Real48 RefLatitude;
  Real48 RefLongitude;
  Real48 RefColumn;
  Real48 RefRow;
  Real48 ColumnSpacing;
  Real48 RowSpacing;
  Real48 ProjParam1;
  Real48 ProjParam2;
  std::uint8_t MinValue = 0;
  std::uint8_t MaxValue = 0;
  std::uint8_t MissingValue = 0;
  Real48 Gain;
  Real48 Offset;
  std::uint8_t Decimals = 0;
};

}  // namespace kavrimo
