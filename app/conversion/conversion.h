// The Convert command: a grid (an ArcGIS float grid, an ESRI ASCII grid or a GeoTIFF) to an 8-bit
// Miradel image, in two streaming passes, or in one over a range the user fixed.
//
// The conversion library: this engine, one GridInput per kind of grid (grid_input.h, chosen by
// grid_input_factory.h) and their passes, the cell coding (cell_coding.h), the chunk runner that
// spreads work over threads (chunk_runner.h) and the scratch files. One engine, driven by the window's
// Button3Click and by the command line through ConversionHost. It uses the grid readers and the image
// component, and links no toolkit; the export back to grids is a library of its own (app/export).
#pragma once

#include <optional>
#include <string>

#include "app/conversion/cell_coding.h"
#include "app/conversion/mosaic_grid_input.h"
#include "image/image_ui.h"
#include "image/kel_img.h"
#include "runtime/temporary_output.h"

namespace kavrimo {

// What the Convert command needs of its front end, beyond the image component's error box and busy
// cursor. A host may end the command from SetProgress or ProcessMessages by raising ConversionCancelled
// (the window does when it is closed): the command then leaves as after any failure, an earlier output
// untouched and no temporary file left.
class ConversionHost : public ImageUi {
 public:
  virtual void SetStatus(const std::string& text) = 0;
  // The progress position, 0 to 100.
  virtual void SetProgress(int position) = 0;
  // Lets the front end handle its pending events (twice per command, before each pass).
  virtual void ProcessMessages() = 0;
  // The modal information box (title "Information").
  virtual void ShowInformation(const std::string& text) = 0;
};

// Raised by a host to end a conversion the user gave up (the window was closed); shown to no one.
class ConversionCancelled : public Error {
 public:
  ConversionCancelled() : Error("Conversion cancelled") {}
};

struct ConversionRequest {
  std::string input;          // the grid as typed (grid_input_factory.h): *.asc, *.tif or a float grid
  std::string output;         // the image file to write
  std::string template_path;  // the header template, normally header.bin beside the executable
  int threads = 1;            // worker threads for the two passes (1 = the calling thread only)
  // Set: the scale comes from this range (minimum < maximum, both finite) instead of the grid's, pass 1
  // is skipped, and cells outside it are coded 0 and 253 (CodeCellsClamped); the command then shows
  // "<n> cells below the range coded 0 and <m> above it coded 253" before its success box when n or m
  // is not 0.
  std::optional<CellRange> fixed_range = std::nullopt;
  SweptFolders* swept = nullptr;  // a batch's record of the output folders swept for leftovers
  // Set: the image is the mosaic of these grids (input is then not read), the command's first status
  // text its summary (MosaicGridInput::Summary).
  std::optional<MosaicRequest> mosaic = std::nullopt;
};

// What a conversion found: the range it scaled over (the grid's, or the fixed one), the scale, and the
// valid cells outside a fixed range.
struct ConversionResult {
  CellRange range;
  CellScale scale;
  OutsideCounts outside;
};

// The threads a single conversion uses by default: one per processor.
int DefaultThreadCount();

// The status text of the cells outside a fixed range: "<n> cells below the range coded 0 and <m>
// above it coded 253".
std::string OutsideCountsText(const OutsideCounts& outside);

// Runs the whole command. The front end has set the decimal separator to "." (the engine never sets
// it), shown the busy cursor and saved what it keeps of the names before it calls. On success KelImg1
// is attached to the output and the host has shown "Image created succesfully". Any failure raises the
// failing step's error; an earlier file of the output's name is then untouched. The output is checked
// (runtime/temporary_output.h) before the grid is read; an I/O error names the file it concerns as the
// user named it or as derived from that name, never a temporary file.
ConversionResult Convert(const ConversionRequest& request, TKelImg& KelImg1, ConversionHost& host);

}  // namespace kavrimo
