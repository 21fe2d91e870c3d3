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
  // Gives the window's resident pages back to the system: they are read again from the file (or the
  // page cache) when touched next. The content stays as it is.
  void Release() const;

 private:
  friend class BusErrorGuard;
  void* base_ = nullptr;    // whole pages
  std::size_t mapped_ = 0;  // their length
  const char* data_ = nullptr;
  std::size_t length_ = 0;
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

}  // namespace kavrimo
