// Geographic coordinate systems from PROJ's database: one PROJ context per lookup, its log silenced,
// each code's answer kept for the rest of the process.
#include "app/grid/coordinate_system.h"

#include <proj.h>

#include <map>
#include <memory>
#include <mutex>
#include <variant>

namespace kavrimo {
namespace {

void DropLogLine(void*, int, const char*) {}

struct ContextFree {
  void operator()(PJ_CONTEXT* context) const { proj_context_destroy(context); }
};
struct ObjectFree {
  void operator()(PJ* object) const { proj_destroy(object); }
};
using Context = std::unique_ptr<PJ_CONTEXT, ContextFree>;
using Object = std::unique_ptr<PJ, ObjectFree>;

// A PROJ context of its own, its log silenced; null when PROJ cannot start one.
Context QuietContext() {
  Context context(proj_context_create());
  if (!context) return context;
  proj_log_level(context.get(), PJ_LOG_NONE);
  proj_log_func(context.get(), nullptr, DropLogLine);
  return context;
}

std::string Named(int code) { return "EPSG code " + std::to_string(code); }

// What the object is, in the words of the refusal.
std::string KindOf(PJ_TYPE type) {
  switch (type) {
    case PJ_TYPE_GEOGRAPHIC_3D_CRS: return "geographic 3D coordinate system";
    case PJ_TYPE_GEOCENTRIC_CRS: return "geocentric coordinate system";
    case PJ_TYPE_PROJECTED_CRS: return "projected coordinate system";
    case PJ_TYPE_VERTICAL_CRS: return "vertical coordinate system";
    case PJ_TYPE_COMPOUND_CRS: return "compound coordinate system";
    case PJ_TYPE_ENGINEERING_CRS: return "engineering coordinate system";
    default: return "coordinate system of another kind";
  }
}

// The system of code as PROJ's database describes it, or the refusal's message. Opening the database
// costs more than many a conversion: LookUpGeographicSystem asks this once per code.
std::variant<GeographicSystem, std::string> AskDatabase(PJ_CONTEXT* context, int code) {
  const std::string code_text = std::to_string(code);
  const Object crs(
      code <= 0 ? nullptr : proj_create_from_database(context, "EPSG", code_text.c_str(), PJ_CATEGORY_CRS, 0, nullptr));
  if (!crs) return Named(code) + " is not in the coordinate system database";
  const PJ_TYPE type = proj_get_type(crs.get());
  if (type != PJ_TYPE_GEOGRAPHIC_2D_CRS) {
    return Named(code) + " names a " + KindOf(type) + ", not a geographic 2D coordinate system";
  }

  GeographicSystem system;
  system.code = code;
  if (const char* name = proj_get_name(crs.get())) system.name = name;
  const char* const options[] = {"MULTILINE=NO", nullptr};
  const char* wkt = proj_as_wkt(context, crs.get(), PJ_WKT1_ESRI, options);
  if (wkt == nullptr) return Named(code) + " has no ESRI well-known text in PROJ";
  system.esri_wkt = wkt;

  const Object axes(proj_crs_get_coordinate_system(context, crs.get()));
  double unit = 0;
  const char* unit_name = nullptr;
  if (!axes ||
      !proj_cs_get_axis_info(context, axes.get(), 0, nullptr, nullptr, nullptr, &unit, &unit_name, nullptr, nullptr)) {
    return Named(code) + " has no axes in PROJ's database";
  }
  system.unit_radians = unit;
  if (unit_name != nullptr) system.unit_name = unit_name;

  const Object meridian(proj_get_prime_meridian(context, crs.get()));
  double longitude = 0;
  double to_radians = 0;
  if (!meridian || !proj_prime_meridian_get_parameters(context, meridian.get(), &longitude, &to_radians, nullptr)) {
    return Named(code) + " has no prime meridian in PROJ's database";
  }
  if (const char* name = proj_get_name(meridian.get())) system.prime_meridian = name;
  system.prime_meridian_radians = longitude * to_radians;
  return system;
}

}  // namespace

GeographicSystem LookUpGeographicSystem(int code) {
  static std::mutex mutex;
  static std::map<int, std::variant<GeographicSystem, std::string>> known;
  const std::lock_guard lock(mutex);
  auto found = known.find(code);
  if (found == known.end()) {
    const Context context = QuietContext();
    if (!context) throw ECoordinateSystemError("PROJ could not be started to look up " + Named(code));
    found = known.emplace(code, AskDatabase(context.get(), code)).first;
  }
  if (const auto* refusal = std::get_if<std::string>(&found->second)) throw ECoordinateSystemError(*refusal);
  return std::get<GeographicSystem>(found->second);
}

std::string LookUpPrimeMeridian(int code) {
  const Context context = QuietContext();
  if (!context || code <= 0) return {};
  const std::string code_text = std::to_string(code);
  const Object meridian(
      proj_create_from_database(context.get(), "EPSG", code_text.c_str(), PJ_CATEGORY_PRIME_MERIDIAN, 0, nullptr));
  const char* name = meridian ? proj_get_name(meridian.get()) : nullptr;
  return name != nullptr ? name : "";
}

}  // namespace kavrimo
