// Read-only mappings of windows of a file, and the guard that keeps a file shrinking under a mapping
// from ending the process.
//
// Touching a mapped page that lies past the end of its file (because the file shrank after it was
// mapped) raises a bus error. While a BusErrorGuard lives, a bus error inside its window on its
// thread maps zero pages over the rest of the window in place of the file pages that are gone, and the
// faulting access runs again and reads zeros. Nothing jumps out of the handler: the reader runs to its
// end through its own frames, objects with destructors and exceptions included, and then learns from
// CutShort() that what it read is not the file's. Every other bus error goes to the disposition the
// handler replaced, which for the default one ends the process as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "runtime/errors.h"
#include "runtime/file.h"

namespace kavrimo {

class MappedWindow {
 public:
  // Maps the bytes [offset, offset + length) of file read-only. Ok() is false when the system cannot
  // map them (or length is 0); nothing is raised.
  MappedWindow(const BinaryFile& file, std::int64_t offset, std::size_t length);
  ~MappedWindow();
  MappedWindow(const MappedWindow&) = delete;
  MappedWindow& operator=(const MappedWindow&) = delete;

  bool Ok() const { return base_ != nullptr; }
  // The byte at offset; Length() bytes from there are readable.
  const char* Data() const { return data_; }
  std::size_t Length() const { return length_; }
  // The file offset just past the window: the size the file must keep for the window to stay whole.
  std::int64_t End() const { return end_; }
  // Gives the window's resident pages back to the system: they are read again from the file (or the
  // page cache) when touched next. The content stays as it is.
  void Release() const;

 private:
  friend class BusErrorGuard;
  void* base_ = nullptr;    // whole pages
  std::size_t mapped_ = 0;  // their length
  const char* data_ = nullptr;
  std::size_t length_ = 0;
  std::int64_t end_ = 0;
};

// True once the bus-error handler is installed (the first call installs it). Without it a window must
// not be touched where the file may shrink.
bool BusErrorGuardAvailable();

// Guards window against a shrinking file on this thread for the guard's life (see above). Guards do
// not nest on one thread.
class BusErrorGuard {
 public:
  explicit BusErrorGuard(const MappedWindow& window);
  ~BusErrorGuard();
  BusErrorGuard(const BusErrorGuard&) = delete;
  BusErrorGuard& operator=(const BusErrorGuard&) = delete;
  // True once a bus error replaced part of the window with zeros.
  bool CutShort() const;
};

// A file that shrank while a window of it was read: "<name> changed while it was read".
class EFileChanged : public Error {
 public:
  explicit EFileChanged(const std::string& name) : Error(name + " changed while it was read") {}
};

// How a guarded visit of a window ended.
enum class WindowVisit {
  kNotMapped,  // the file is shorter than the window, or no guard can be had: nothing was visited
  kRefused,    // the system would not map the window: nothing was visited
  kWhole,      // visited, and the file still holds the whole window
  kCutShort,   // visited, but the file shrank meanwhile: what visit saw may hold zeros for lost bytes
};

// Maps the bytes [offset, offset + length) of file and runs visit(bytes) on them under a BusErrorGuard,
// then checks that the file still reaches past the window (a file that shrank within the window's last
// page shows zeros there without a bus error). What visit raises leaves as it is.
WindowVisit VisitWindow(const BinaryFile& file, std::int64_t offset, std::size_t length,
                        const std::function<void(const char* bytes)>& visit);

// The same for a file named in messages: true when the window was visited whole, false when it was not
// mapped; raises EFileChanged(name) when the file shrank while it was visited.
bool VisitWindowWhole(const BinaryFile& file, std::int64_t offset, std::size_t length, const std::string& name,
                      const std::function<void(const char* bytes)>& visit);

// Runs visit under a guard of window, which maps file and which visit may touch (a window mapped once
// and visited many times); raises EFileChanged(name) when the file shrank meanwhile.
void VisitMappedWhole(const MappedWindow& window, const BinaryFile& file, const std::string& name,
                      const std::function<void()>& visit);

}  // namespace kavrimo
