// libpng reports its errors by a long jump back to the caller's setjmp. Every call into it therefore
// runs in a small function whose frame owns nothing (no object with a destructor lies between the
// setjmp and the jump); an error of libpng, or one the sink raised and parked in the state, leaves as
// an exception only once libpng has returned.
#include "app/cli/png_stream.h"

#include <png.h>

#include <csetjmp>
#include <exception>
#include <string>

#include "runtime/errors.h"

namespace kavrimo::cli {

struct PngStream::State {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Sink sink;
  std::exception_ptr sink_error;  // what the sink raised, to be raised again outside libpng
  char message[256] = {};         // libpng's own error text
};

namespace {

void OnError(png_structp png, png_const_charp text) {
  auto* state = static_cast<PngStream::State*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", text);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}  // nothing of libpng's reaches the terminal

void OnWrite(png_structp png, png_bytep bytes, png_size_t count) {
  auto* state = static_cast<PngStream::State*>(png_get_io_ptr(png));
  try {
    state->sink(bytes, count);
  } catch (...) {
    state->sink_error = std::current_exception();
    png_error(png, "the sink failed");
  }
}

void OnFlush(png_structp) {}

// Each returns false when libpng jumped out.
bool StartPicture(PngStream::State& state, std::uint32_t width, std::uint32_t height, const png_color* palette) {
  if (setjmp(png_jmpbuf(state.png))) return false;
  png_set_write_fn(state.png, &state, OnWrite, OnFlush);
  png_set_IHDR(state.png, state.info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(state.png, state.info, palette, 256);
  png_write_info(state.png, state.info);
  return true;
}

bool PutRow(PngStream::State& state, const std::uint8_t* indices) {
  if (setjmp(png_jmpbuf(state.png))) return false;
  png_write_row(state.png, indices);
  return true;
}

bool EndPicture(PngStream::State& state) {
  if (setjmp(png_jmpbuf(state.png))) return false;
  png_write_end(state.png, state.info);
  return true;
}

[[noreturn]] void RaiseFailure(PngStream::State& state) {
  if (state.sink_error) std::rethrow_exception(state.sink_error);
  throw Error(std::string("Cannot encode the preview: ") + state.message);
}

}  // namespace

PngStream::PngStream(std::uint32_t width, std::uint32_t height, const std::array<PaletteColour, 256>& palette,
                     Sink sink)
    : state_(std::make_unique<State>()) {
  state_->sink = std::move(sink);
  state_->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state_.get(), OnError, OnWarning);
  if (state_->png == nullptr) throw std::bad_alloc();
  state_->info = png_create_info_struct(state_->png);
  if (state_->info == nullptr) throw std::bad_alloc();
  png_color colours[256];
  for (std::size_t i = 0; i < 256; ++i) colours[i] = {palette[i].red, palette[i].green, palette[i].blue};
  if (!StartPicture(*state_, width, height, colours)) RaiseFailure(*state_);
}

PngStream::~PngStream() {
  if (state_->png != nullptr) png_destroy_write_struct(&state_->png, state_->info != nullptr ? &state_->info : nullptr);
}

void PngStream::WriteRow(const std::uint8_t* indices) {
  if (!PutRow(*state_, indices)) RaiseFailure(*state_);
}

void PngStream::Finish() {
  if (!EndPicture(*state_)) RaiseFailure(*state_);
}

}  // namespace kavrimo::cli
