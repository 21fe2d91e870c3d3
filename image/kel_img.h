// TKelImg: attaches to one image file, exposes its header fields as write-through properties, creates
// new image files from the attached one, and derives the image's geographic extent.
//
// The image layer uses the runtime and projection layers and no toolkit: messages and the busy cursor
// go through ImageUi. No file is held open between calls; each operation opens, works and closes.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_ui.h"
#include "projection/image_header.h"

namespace kavrimo {

enum class ImageState { NoImage, ValidImage, InvalidImage };

// Identifies a header field for WriteHeaderField. 0, 1, 4, 7 and 9 name no field.
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

class TKelImg {
 public:
  // Create: state NoImage, empty FileName.
  explicit TKelImg(ImageUi& ui);

  const std::string& FileName() const { return file_name_; }
  // Attaches the file: opens it read-only (process-wide open mode 0), reads the header, judges
  // validity, applies the type defaults and, for a valid image, copies the fields into the properties
  // and derives the corner values. Raises EInOutError when the file cannot be opened, and the
  // floating-point errors of the corner computation.
  void SetFileName(const std::string& path);
  ImageState State() const { return state_; }
  const TImageHeader& Header() const { return header_; }

  // Properties: reading gives the held value; setting writes the field through to the file unless the
  // value equals the held one; with no valid image attached a set shows "No valid image attached".
  std::uint8_t ImageType() const { return held_.ImageType; }
  void SetImageType(std::uint8_t value);
  std::uint8_t Projection() const { return held_.Projection; }
  void SetProjection(std::uint8_t value);
  std::int16_t Rows() const { return held_.Rows; }
  void SetRows(std::int16_t value);
  std::int16_t Columns() const { return held_.Columns; }
  void SetColumns(std::int16_t value);
  std::string Comment() const { return std::string(held_.Comment.begin(), held_.Comment.end()); }
  double RefLatitude() const { return held_.RefLatitude.Value(); }
  void SetRefLatitude(double value);
  double RefLongitude() const { return held_.RefLongitude.Value(); }
  void SetRefLongitude(double value);
  double RefColumn() const { return held_.RefColumn.Value(); }
  void SetRefColumn(double value);
  double RefRow() const { return held_.RefRow.Value(); }
  void SetRefRow(double value);
  double ColumnSpacing() const { return held_.ColumnSpacing.Value(); }
  void SetColumnSpacing(double value);
  double RowSpacing() const { return held_.RowSpacing.Value(); }
  void SetRowSpacing(double value);
  double ProjParam1() const { return held_.ProjParam1.Value(); }
  double ProjParam2() const { return held_.ProjParam2.Value(); }
  std::uint8_t MinValue() const { return held_.MinValue; }
  std::uint8_t MaxValue() const { return held_.MaxValue; }
  std::uint8_t MissingValue() const { return held_.MissingValue; }
  double Gain() const { return held_.Gain.Value(); }
  void SetGain(double value);
  double Offset() const { return held_.Offset.Value(); }
  void SetOffset(double value);
  std::uint8_t Decimals() const { return held_.Decimals; }
  void SetDecimals(std::uint8_t value);

  // Writes a new image file from the attached one's in-memory header, with the creator stamp
  // "ZUB/Marentaal 1994-<year>" as Comment; the pixel area (unless header_only) is filled with
  // MissingValue. Shows "No valid image attached" instead when no valid image is attached.
  void CreateFromTemplate(const std::string& new_file_name, bool header_only);

  // Longitude and latitude in degrees of a pixel position (column, row in cells); -1, -1 for a negative
  // column or row; -9999, -9999 where the projection rejects the position.
  void PixelToGeo(double column, double row, double& longitude, double& latitude) const;
  float CellWidthKm() const { return cell_width_km_; }
  double MinLatitude() const { return min_latitude_; }
  double MaxLatitude() const { return max_latitude_; }
  double MinLongitude() const { return min_longitude_; }
  double MaxLongitude() const { return max_longitude_; }

  // Writes one field of the in-memory header to its offset in the attached file.
  void WriteHeaderField(HeaderFieldId id);
  // Shows "No valid image attached" when a file name is set; does nothing otherwise. Never raises.
  void ReportNoImage();
  // The first width characters of text, padded with blanks to exactly width.
  static std::string PadToWidth(const std::string& text, int width);

 private:
  void ComputeDerivedValues();
  // Algorithm of every property set: report without a valid image, skip an unchanged value, else
  // store it in the held value and the header and write the field through.
  // Sets an 8-bit or 16-bit field (write-through unless the value is the held one).
  template <typename Integer>
  void SetIntegerField(Integer TImageHeader::*field, Integer value, HeaderFieldId id);
  void SetRealField(Real48 TImageHeader::*field, double value, HeaderFieldId id);

  ImageUi& ui_;
  TImageHeader header_;  // as read (after the type defaults) and as changed since
  std::string file_name_;
  ImageState state_ = ImageState::NoImage;
  float cell_width_km_ = 0;
  double min_latitude_ = 0;
  double max_latitude_ = 0;
  double min_longitude_ = 0;
  double max_longitude_ = 0;
  TImageHeader held_;  // the held property values
};

}  // namespace kavrimo
