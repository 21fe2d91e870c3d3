#include "app/conversion/mosaic_grid_input.h"

#include <algorithm>
#include <limits>

#include "app/conversion/chunk_runner.h"
#include "app/conversion/grid_input_factory.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

constexpr std::int64_t kHeadersPerChunk = 16;

// The coarse cells' size and k: the grids' own cells without --cell-size (or with their own size).
std::pair<double, std::int64_t> CellsOf(const MosaicRequest& request, const MosaicLattice& lattice) {
  if (!request.cell_size) return {lattice.CellWidth(), 1};
  const std::int64_t k = lattice.CoarseningOf(*request.cell_size, request.cell_size_text);
  return {k == 1 ? lattice.CellWidth() : static_cast<double>(static_cast<float>(*request.cell_size)), k};
}

}  // namespace

std::vector<std::string> MosaicInputFiles(const MosaicRequest& request) {
  std::vector<std::string> files;
  for (const std::string& input : request.inputs) {
    for (std::string& file : GridInputFiles(input)) files.push_back(std::move(file));
  }
  if (!request.inputs_from.empty()) files.push_back(request.inputs_from);
  return files;
}

MosaicGridInput::MosaicGridInput(const MosaicRequest& request, const std::string& output, SweptFolders* swept,
                                 int threads)
    : output_(output), swept_(swept), given_(request.inputs.size()) {
  if (request.inputs.empty()) throw ECommandError("A mosaic needs at least one grid");
  // A folder of small tiles costs mostly the opening of their headers: runs of them are read at once on
  // the threads, and the error raised is that of the first grid in order that fails, as on one thread.
  std::vector<MosaicTile> tiles(request.inputs.size());
  const auto count = static_cast<std::int64_t>(tiles.size());
  RunChunks((count + kHeadersPerChunk - 1) / kHeadersPerChunk, threads,
            [&](std::int64_t chunk, int) {
              for (std::int64_t i = chunk * kHeadersPerChunk; i < std::min(count, (chunk + 1) * kHeadersPerChunk);
                   ++i) {
                tiles[static_cast<std::size_t>(i)] = ReadTileHeader(request.inputs[static_cast<std::size_t>(i)]);
              }
            },
            [](std::int64_t) {});
  const MosaicLattice lattice(tiles.front().name, tiles.front().header);
  std::vector<LatticeRect> places;
  places.reserve(tiles.size());
  for (MosaicTile& tile : tiles) places.push_back(tile.place = lattice.Place(tile.name, tile.header));
  const auto [cell_size, k] = CellsOf(request, lattice);
  k_ = k;
  if (request.bounds) {
    const std::optional<LatticeRect> cells = lattice.CellsOf(*request.bounds, k, cell_size);
    if (cells) extent_ = *cells;
  } else {
    extent_ = CoveringCells(places, k);
  }
  const LatticeRect fine = FineCells(extent_, k);
  for (MosaicTile& tile : tiles) {
    if (extent_.cols != 0 && Intersection(tile.place, fine).cols != 0) reached_.push_back(std::move(tile));
  }
  if (reached_.empty()) throw ECommandError("No grid covers the bounds " + request.bounds->text);
  CheckMosaicSize(extent_);
  header_ = lattice.HeaderOf(extent_, k, cell_size);
}

std::string MosaicGridInput::Summary() const {
  return "Mosaic of " + std::to_string(reached_.size()) + " of " + std::to_string(given_) +
         " grids: " + std::to_string(extent_.cols) + " x " + std::to_string(extent_.rows) + " cells";
}

void MosaicGridInput::OpenData() {
  std::int64_t cells = 0;
  const MosaicTile* first = nullptr;
  std::size_t decoded = 0;
  for (const MosaicTile& tile : reached_) {
    if (!tile.Decoded()) continue;
    if (first == nullptr) first = &tile;
    ++decoded;
    cells += tile.Cells();
  }
  if (first != nullptr) {
    const std::string name = decoded == 1 ? first->name : std::to_string(decoded) + " grids";
    scratch_.emplace(output_, name, cells, swept_);
  }
  std::int64_t base = 0;
  sources_.reserve(reached_.size());
  for (const MosaicTile& tile : reached_) {
    sources_.emplace_back(tile, scratch_ ? &scratch_->File() : nullptr, base);
    if (tile.Decoded()) base += tile.Cells() * std::int64_t{sizeof(float)};
  }
  passes_ = std::make_unique<MosaicPasses>(extent_, k_, sources_);
}

CellRange MosaicGridInput::ScanRange(const ProgressSink& progress, const PassOptions& options) {
  if (k_ > 1) coarse_.emplace(output_, "the mosaic's coarse cells", extent_.cols * extent_.rows, swept_);
  return Scratched([&] {
    if (!coarse_) return passes_->Scan(progress, options);
    return coarse_->NamingOutput([&] { return passes_->Scan(progress, options, &coarse_->File()); });
  });
}

OutsideCounts MosaicGridInput::CodeGrid(const GridCoding& coding, ImagePixels& output, const ProgressSink& progress,
                                        const PassOptions& options) {
  if (const auto* fixed = std::get_if<FixedScale>(&coding)) {
    return Scratched([&] { return passes_->Code(*fixed, output, progress, options); });
  }
  const CellScale& scale = std::get<CellScale>(coding);
  if (coarse_) {
    GridHeader cells = header_;
    cells.nodata_single = std::numeric_limits<float>::quiet_NaN();  // the missing cells were kept as NaN
    coarse_->NamingOutput([&] { kavrimo::CodeGrid(coarse_->File(), cells, scale, output, progress, options); });
    return {};
  }
  Scratched([&] { passes_->Code(scale, output, progress, options); });
  return {};
}

void MosaicGridInput::Close() {
  for (MosaicSource& source : sources_) source.Close();
  if (scratch_) scratch_->Close();
  if (coarse_) coarse_->Close();
}

}  // namespace kavrimo
