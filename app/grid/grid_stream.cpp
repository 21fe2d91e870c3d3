// Windows of grid cells: mapped straight from the file's pages, or read at their offsets with the
// byte swap of big-endian grids; and the guard that turns a bus error in a mapped window into a retry.
#include "app/grid/grid_stream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace kavrimo {
namespace {

void SwapBytes(float* cells, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t word;
    std::memcpy(&word, &cells[i], sizeof word);
    word = __builtin_bswap32(word);
    std::memcpy(&cells[i], &word, sizeof word);
  }
}

// ---- The bus-error guard -------------------------------------------------------------------------
//
// Touching a mapped page that lies past the end of its file (because the file shrank after it was
// mapped) raises SIGBUS. While a thread visits a mapped window it registers the window here. The
// handler, installed once for the process, answers only for a fault inside the faulting thread's own
// registered window: it maps anonymous zero pages over the rest of that window, in place of the file
// pages that are gone, marks the window as cut short and returns, so the faulting access runs again
// and reads zeros. Nothing jumps out of the handler: the visit runs to its end through its own frames,
// objects with destructors and exceptions included, and the caller then throws its results away and
// reads the window again with plain reads, which tell how much of it the file still holds. (Zeros
// cannot make a visit raise: 0 is an ordinary cell value.) Every other bus error goes to the
// disposition the handler replaced, which for the default one ends the process as before.

struct Guard {
  char* begin;  // the window's mapping, whole pages
  char* end;
  std::uintptr_t page;
  volatile sig_atomic_t cut_short;
};

thread_local Guard* t_guard = nullptr;
struct sigaction g_previous_bus_handler;

void OnBusError(int signal, siginfo_t* info, void* context) {
  Guard* guard = t_guard;
  char* address = static_cast<char*>(info->si_addr);
  if (guard != nullptr && address >= guard->begin && address < guard->end) {
    const int saved_errno = errno;
    char* from = reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(address) & ~(guard->page - 1));
    // mmap is a plain system call here, safe in a handler; MAP_FIXED replaces the vanished pages.
    const void* zeros = ::mmap(from, static_cast<std::size_t>(guard->end - from), PROT_READ,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    errno = saved_errno;
    if (zeros != MAP_FAILED) {
      guard->cut_short = 1;
      return;
    }
  }
  if (g_previous_bus_handler.sa_flags & SA_SIGINFO) {
    g_previous_bus_handler.sa_sigaction(signal, info, context);
    return;
  }
  // Put the old disposition back; returning re-runs the faulting access under it.
  ::sigaction(SIGBUS, &g_previous_bus_handler, nullptr);
}

bool InstallBusErrorHandler() {
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  return ::sigaction(SIGBUS, &action, &g_previous_bus_handler) == 0;
}

bool BusErrorHandlerInstalled() {
  static const bool installed = InstallBusErrorHandler();
  return installed;
}

// Registers a mapped window with the handler for the life of the object.
class GuardedWindow {
 public:
  GuardedWindow(char* begin, char* end, std::uintptr_t page) : guard_{begin, end, page, 0} { t_guard = &guard_; }
  ~GuardedWindow() { t_guard = nullptr; }
  GuardedWindow(const GuardedWindow&) = delete;
  GuardedWindow& operator=(const GuardedWindow&) = delete;
  bool CutShort() const { return guard_.cut_short != 0; }

 private:
  Guard guard_;
};

// A mapping of part of a file, unmapped when it ends.
class Mapping {
 public:
  Mapping(int fd, std::int64_t offset, std::size_t length)
      : page_(static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE))) {
    const std::int64_t start = offset / static_cast<std::int64_t>(page_) * static_cast<std::int64_t>(page_);
    length_ = length + static_cast<std::size_t>(offset - start);
    base_ = ::mmap(nullptr, length_, PROT_READ, MAP_SHARED, fd, start);
    if (base_ == MAP_FAILED) return;
    (void)::madvise(base_, length_, MADV_SEQUENTIAL);
    at_ = static_cast<const char*>(base_) + (offset - start);
  }
  ~Mapping() {
    if (base_ != MAP_FAILED) ::munmap(base_, length_);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  bool Ok() const { return base_ != MAP_FAILED; }
  const char* At() const { return at_; }
  std::uintptr_t Page() const { return page_; }
  // The mapped pages, whole.
  char* Begin() const { return static_cast<char*>(base_); }
  char* End() const { return Begin() + (length_ + page_ - 1) / page_ * page_; }

 private:
  std::uintptr_t page_;
  void* base_ = MAP_FAILED;
  std::size_t length_ = 0;
  const char* at_ = nullptr;
};

}  // namespace

GridStream::GridStream(const BinaryFile& data, std::int64_t cells, bool big_endian, bool map)
    : data_(data), cells_(cells), big_endian_(big_endian), map_(map && !big_endian) {}

std::size_t GridStream::ReadCells(std::int64_t first, std::size_t count, float* out) const {
  const std::size_t bytes = data_.ReadAt(first * static_cast<std::int64_t>(sizeof(float)), out,
                                         count * sizeof(float));
  const std::size_t whole = bytes / sizeof(float);
  if (big_endian_) SwapBytes(out, whole);
  return whole;
}

std::size_t GridStream::Visit(std::int64_t first, std::size_t count, BlockBuffer<float>& buffer,
                              const CellVisitor& visit) const {
  if (map_.load(std::memory_order_relaxed) && VisitMapped(first, count, visit)) return count;
  return VisitByReading(first, count, buffer, visit);
}

std::size_t GridStream::VisitByReading(std::int64_t first, std::size_t count, BlockBuffer<float>& buffer,
                                       const CellVisitor& visit) const {
  std::size_t done = 0;
  while (done < count) {
    const std::size_t wanted = std::min(buffer.size(), count - done);
    const std::size_t got = ReadCells(first + static_cast<std::int64_t>(done), wanted, buffer.data());
    if (got > 0) visit(buffer.data(), got, done);
    done += got;
    if (got < wanted) break;
  }
  return done;
}

bool GridStream::VisitMapped(std::int64_t first, std::size_t count, const CellVisitor& visit) const {
  const std::int64_t end = (first + static_cast<std::int64_t>(count)) * static_cast<std::int64_t>(sizeof(float));
  // A window past the end of the file is read, which reports exactly how much of it there is.
  if (count == 0 || data_.Size() < end || !BusErrorHandlerInstalled()) return false;
  const Mapping window(data_.Descriptor(), first * static_cast<std::int64_t>(sizeof(float)), count * sizeof(float));
  if (!window.Ok()) {
    map_.store(false, std::memory_order_relaxed);  // a file that cannot be mapped is read from now on
    return false;
  }
  const auto* cells = reinterpret_cast<const float*>(window.At());
  bool whole = false;
  {
    const GuardedWindow guard(window.Begin(), window.End(), window.Page());
    visit(cells, count, 0);
    whole = !guard.CutShort();
  }
  // A file that shrank while its window was visited may have shown zeros past its new end without a
  // bus error (the rest of the last page); reading again tells what the cells were.
  return whole && data_.Size() >= end;
}

void GridStream::AdviseSequential() const {
  (void)::posix_fadvise(data_.Descriptor(), 0, cells_ * static_cast<std::int64_t>(sizeof(float)),
                        POSIX_FADV_SEQUENTIAL);
}

}  // namespace kavrimo
