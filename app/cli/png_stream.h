// Writing an indexed 8-bit PNG row by row with libpng, so that a picture of any size costs one row of
// memory. The encoded bytes go to a sink as they are made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace kavrimo::cli {

struct PaletteColour {
  std::uint8_t red, green, blue;
};

class PngStream {
 public:
  // Receives the encoded bytes in order; may raise (a full disk, a closed pipe): the error leaves the
  // PngStream call that was writing.
  using Sink = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

  // Starts a width x height picture of palette indices (each 1 to 2^31 - 1) with the given palette.
  PngStream(std::uint32_t width, std::uint32_t height, const std::array<PaletteColour, 256>& palette, Sink sink);
  ~PngStream();
  PngStream(const PngStream&) = delete;
  PngStream& operator=(const PngStream&) = delete;

  // Encodes the next row: width indices. Raises Error "Cannot encode the preview: <reason>" for a fault
  // of the encoder, and what the sink raised.
  void WriteRow(const std::uint8_t* indices);
  // Ends the picture; every row must have been written.
  void Finish();

  struct State;  // libpng's side, defined with the code that calls it

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kavrimo::cli
