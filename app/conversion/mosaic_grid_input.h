// A mosaic behind GridInput: many grids of any kind made one grid, cut to a box and coarsened, so that
// the Convert command's steps make its image as they make any grid's.
//
// Every grid's header is read, and every refusal given, when the mosaic is made, before any cell is
// read; the grids the image does not reach are never read beyond their headers.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/conversion/grid_input.h"
#include "app/conversion/mosaic_lattice.h"
#include "app/conversion/mosaic_passes.h"
#include "app/conversion/mosaic_sources.h"
#include "app/conversion/scratch_file.h"

namespace kavrimo {

struct MosaicRequest {
  std::vector<std::string> inputs;     // the grids, named as convert names them, in order
  std::optional<MosaicBounds> bounds;  // only the cells this box overlaps
  std::optional<double> cell_size;     // coarser cells of this size (> 0)
  std::string cell_size_text;          // the size as typed, for messages
  std::string inputs_from;             // a file that named inputs, "" for none: never the output
};

// The files a mosaic reads: every grid's (GridInputFiles) and the file that named them.
std::vector<std::string> MosaicInputFiles(const MosaicRequest& request);

class MosaicGridInput : public GridInput {
 public:
  // Reads every grid's header, on up to threads threads, and places the grids (mosaic_lattice.h);
  // raises the error of the first grid in order that cannot be read and every refusal: "No grid covers
  // the bounds <WEST SOUTH EAST NORTH>", the lattice's and CheckMosaicSize's. Scratch space, where a
  // grid needs it, goes beside output.
  MosaicGridInput(const MosaicRequest& request, const std::string& output, SweptFolders* swept = nullptr,
                  int threads = 1);

  // "Mosaic of <n> of <m> grids: <cols> x <rows> cells": the grids the image reaches, of all given.
  std::string Summary() const;

  // Sets aside the scratch space of the grids the image reaches that are parsed or decoded.
  void OpenData() override;
  // Pass 1; of coarse cells, it keeps them in a scratch file of their own (4 bytes per cell of the image,
  // set aside before any cell is read), so that pass 2 codes them as a float grid's.
  CellRange ScanRange(const ProgressSink& progress, const PassOptions& options) override;
  OutsideCounts CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                         const PassOptions& options) override;
  void Close() override;

 private:
  template <typename Work>
  auto Scratched(Work work) -> decltype(work()) {
    return scratch_ ? scratch_->NamingOutput(work) : work();
  }

  std::string output_;
  SweptFolders* swept_;
  std::size_t given_ = 0;
  std::vector<MosaicTile> reached_;  // the grids the image reaches, in order
  LatticeRect extent_;
  std::int64_t k_ = 1;
  std::optional<ScratchFile> scratch_;
  std::optional<ScratchFile> coarse_;  // the coarse cells pass 1 found, which pass 2 codes
  std::vector<MosaicSource> sources_;
  std::unique_ptr<MosaicPasses> passes_;
};

}  // namespace kavrimo
