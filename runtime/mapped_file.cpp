// Guarded visits of mapped windows: the one way every reader of a file that may shrink under it goes.
#include "runtime/mapped_file.h"

namespace kavrimo {
namespace {

// Runs visit under a guard of window; true when no bus error cut it short and the file still reaches
// past the window.
bool GuardedWhole(const MappedWindow& window, const BinaryFile& file, const std::function<void()>& visit) {
  bool cut_short = false;
  {
    const BusErrorGuard guard(window);
    visit();
    cut_short = guard.CutShort();
  }
  return !cut_short && file.Size() >= window.End();
}

}  // namespace

WindowVisit VisitWindow(const BinaryFile& file, std::int64_t offset, std::size_t length,
                        const std::function<void(const char* bytes)>& visit) {
  if (length == 0 || file.Size() < offset + static_cast<std::int64_t>(length) || !BusErrorGuardAvailable()) {
    return WindowVisit::kNotMapped;
  }
  const MappedWindow window(file, offset, length);
  if (!window.Ok()) return WindowVisit::kRefused;
  return GuardedWhole(window, file, [&] { visit(window.Data()); }) ? WindowVisit::kWhole : WindowVisit::kCutShort;
}

bool VisitWindowWhole(const BinaryFile& file, std::int64_t offset, std::size_t length, const std::string& name,
                      const std::function<void(const char* bytes)>& visit) {
  switch (VisitWindow(file, offset, length, visit)) {
    case WindowVisit::kNotMapped:
    case WindowVisit::kRefused: return false;
    case WindowVisit::kWhole: return true;
    case WindowVisit::kCutShort: break;
  }
  throw EFileChanged(name);
}

void VisitMappedWhole(const MappedWindow& window, const BinaryFile& file, const std::string& name,
                      const std::function<void()>& visit) {
  if (!GuardedWhole(window, file, visit)) throw EFileChanged(name);
}

}  // namespace kavrimo
