// libtiff and libgeotiff set up once per process, and their messages collected per handle.
#include "app/grid/tiff_support.h"

#include <xtiffio.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace kavrimo::tiff {
namespace {

// No single allocation of libtiff's is larger for any grid this system converts (the largest are the
// block offsets of a grid cut into very small tiles); a hostile header asking for more fails cleanly.
constexpr tmsize_t kMaxSingleAllocation = tmsize_t{256} << 20;

TIFFExtendProc g_previous_extender = nullptr;

// Registers the no-data tag with every handle libtiff opens, then lets the previous extender (libgeotiff's)
// register its own tags.
void ExtendTags(TIFF* tif) {
  static const TIFFFieldInfo no_data_field[] = {
      {kNoDataTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("NoDataValue")}};
  TIFFMergeFieldInfo(tif, no_data_field, 1);
  if (g_previous_extender != nullptr) g_previous_extender(tif);
}

int OnError(TIFF*, void* user_data, const char* module, const char* format, va_list arguments) {
  static_cast<Messages*>(user_data)->Keep(module, format, arguments);
  return 1;  // handled: the process-wide handlers are not called
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

void Initialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetErrorHandlerExt(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFFSetWarningHandlerExt(nullptr);
    XTIFFInitialize();
    g_previous_extender = TIFFSetTagExtender(ExtendTags);
  });
}

void Messages::Keep(const char* module, const char* format, va_list arguments) {
  if (!first_error.empty()) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, arguments);
  first_error = text;
  if (first_error.empty()) first_error = module != nullptr ? module : "unknown error";
}

Options OptionsFor(Messages& messages) {
  Options options(TIFFOpenOptionsAlloc());
  if (!options) throw std::bad_alloc();
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSingleAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, nullptr);
  return options;
}

void OnGeoKeyError(GTIF* gtif, int level, const char* format, ...) {
  if (level != LIBGEOTIFF_ERROR) return;
  auto* messages = static_cast<Messages*>(GTIFGetUserData(gtif));
  if (messages == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  messages->Keep("GeoKeys", format, arguments);
  va_end(arguments);
}

}  // namespace kavrimo::tiff
