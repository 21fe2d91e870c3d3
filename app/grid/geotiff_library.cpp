// Finding and opening the GeoTIFF module, once per process.
#include "app/grid/geotiff_library.h"

#include <filesystem>

#include "kavrimo_version.h"
#include "runtime/errors.h"
#include "runtime/file.h"
#include "runtime/loadable_module.h"
#include "runtime/system.h"

namespace kavrimo {
namespace {

// Where an installed copy keeps its modules, from its bin folder (set by the build, which knows the
// installed layout).
#ifndef KAVRIMO_MODULE_DIR_FROM_BIN
#error "KAVRIMO_MODULE_DIR_FROM_BIN names the module folder of an installed copy, from its bin folder"
#endif

const GeoTiffModule& Load() {
  const std::string executable_dir = ExecutableDirectory();
  const std::string beside = executable_dir + kGeoTiffModuleName;
  const std::string installed =
      std::filesystem::path(executable_dir + KAVRIMO_MODULE_DIR_FROM_BIN + "/" + kGeoTiffModuleName)
          .lexically_normal()
          .string();
  std::string path;
  for (const std::string& candidate : {beside, installed}) {
    if (path.empty() && PathExists(candidate)) path = candidate;
  }
  const std::string description = "The GeoTIFF module";
  if (path.empty()) {
    throw Error(description + " " + kGeoTiffModuleName + " is missing (looked for in " + executable_dir + " and " +
                std::filesystem::path(installed).parent_path().string() + ")");
  }
  using Entry = const GeoTiffModule* (*)();
  const auto entry = reinterpret_cast<Entry>(LoadModuleSymbol(path, kGeoTiffModuleEntry, description));
  const GeoTiffModule* module = entry();
  if (module == nullptr || std::string(module->version) != kVersion) {
    throw Error(description + " " + path + " is of version " + (module ? module->version : "?") +
                ", not this program's " + kVersion);
  }
  return *module;
}

// Opened on first use; a failed opening is tried again at the next use.
const GeoTiffModule& Module() {
  static const GeoTiffModule& module = Load();
  return module;
}

}  // namespace

std::unique_ptr<GeoTiffDecoder> OpenGeoTiff(const std::string& path) { return Module().open(path); }

std::unique_ptr<GeoTiffEncoder> CreateGeoTiff(const std::string& path, const GeoTiffGridDescription& grid) {
  return Module().create(path, grid);
}

GeographicSystem GeographicSystemOf(int code) { return Module().look_up(code); }

}  // namespace kavrimo
