// TKelImg: attaches to one image file, exposes its header fields as write-through properties, creates
// new image files from the attached one, and derives the image's geographic extent.
//
// The image layer uses the runtime and projection layers and no toolkit: messages and the busy cursor
// go through ImageUi. No file is held open between calls; each operation opens, works and closes.
#pragma once

#include <cstdint>
#include <string>

#include "image/header_format.h"
#include "image/image_ui.h"
#include "projection/image_header.h"
#include "runtime/file.h"

namespace kavrimo {

enum class ImageState { NoImage, ValidImage, InvalidImage };

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
  const TImageHeader& Header() const { return memory_header_; }

  // Properties: reading gives the held value; setting writes the field through to the file unless the
  // value equals the held one; with no valid image attached a set shows "No valid image attached".
  std::uint8_t ImageType() const { return properties_.ImageType; }
  void SetImageType(std::uint8_t value);
  std::uint8_t Projection() const { return properties_.Projection; }
  void SetProjection(std::uint8_t value);
  std::int16_t Rows() const { return properties_.Rows; }
  void SetRows(std::int16_t value);
  std::int16_t Columns() const { return properties_.Columns; }
  void SetColumns(std::int16_t value);
  std::string Comment() const { return std::string(properties_.Comment.begin(), properties_.Comment.end()); }
  double RefLatitude() const { return properties_.RefLatitude.Value(); }
  void SetRefLatitude(double value);
  double RefLongitude() const { return properties_.RefLongitude.Value(); }
  void SetRefLongitude(double value);
  double RefColumn() const { return properties_.RefColumn.Value(); }
  void SetRefColumn(double value);
  double RefRow() const { return properties_.RefRow.Value(); }
  void SetRefRow(double value);
  double ColumnSpacing() const { return properties_.ColumnSpacing.Value(); }
  void SetColumnSpacing(double value);
  double RowSpacing() const { return properties_.RowSpacing.Value(); }
  void SetRowSpacing(double value);
  double ProjParam1() const { return properties_.ProjParam1.Value(); }
  double ProjParam2() const { return properties_.ProjParam2.Value(); }
  std::uint8_t MinValue() const { return properties_.MinValue; }
  std::uint8_t MaxValue() const { return properties_.MaxValue; }
  std::uint8_t MissingValue() const { return properties_.MissingValue; }
  double Gain() const { return properties_.Gain.Value(); }
  void SetGain(double value);
  double Offset() const { return properties_.Offset.Value(); }
  void SetOffset(double value);
  std::uint8_t Decimals() const { return properties_.Decimals; }
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
  // The in-memory header: as read on the last attach (type defaults applied), changed by every set,
  // stamped by CreateFromTemplate. New files are written from it; the projections read it.
  TImageHeader memory_header_;
  std::string file_name_;
  ImageState state_ = ImageState::NoImage;
  float cell_width_km_ = 0;
  double min_latitude_ = 0;
  double max_latitude_ = 0;
  double min_longitude_ = 0;
  double max_longitude_ = 0;
  // The values the properties hold: copied from the header on each valid attach, changed by every set.
  // An invalid attach leaves them as they were; otherwise they differ from memory_header_ only in the
  // Comment that CreateFromTemplate stamps.
  TImageHeader properties_;
};

}  // namespace kavrimo
