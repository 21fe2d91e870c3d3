// Windows of grid cells: mapped straight from the file's pages, or read at their offsets with the
// byte swap of big-endian grids; and the guard that turns a bus error in a mapped window into a retry.
#include "app/core/grid_stream.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
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
// mapped) raises SIGBUS. While a thread visits a mapped window it registers the window here; the
// handler, installed once for the process, jumps back to the visit when the faulting address lies in
// the registering thread's window, and hands every other bus error to the disposition it replaced
// (which, for the default one, ends the process as before). The code run under the guard is plain
// arithmetic over the window, with nothing to clean up when it is abandoned.

struct Guard {
  sigjmp_buf resume;
  const char* begin;
  const char* end;
};

thread_local Guard* t_guard = nullptr;
struct sigaction g_previous_bus_handler;

void OnBusError(int signal, siginfo_t* info, void* context) {
  const Guard* guard = t_guard;
  const auto* address = static_cast<const char*>(info->si_addr);
  if (guard != nullptr && address >= guard->begin && address < guard->end) siglongjmp(t_guard->resume, 1);
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

// Runs visit over [begin, end); false when a bus error in that range cut it short.
bool VisitGuarded(const char* begin, const char* end, const std::function<void()>& visit) {
  Guard guard;
  guard.begin = begin;
  guard.end = end;
  if (sigsetjmp(guard.resume, 1) != 0) {
    t_guard = nullptr;
    return false;
  }
  t_guard = &guard;
  try {
    visit();
  } catch (...) {
    t_guard = nullptr;
    throw;
  }
  t_guard = nullptr;
  return true;
}

// A mapping of part of a file, unmapped when it ends.
class Mapping {
 public:
  Mapping(int fd, std::int64_t offset, std::size_t length) {
    const auto page = static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
    const std::int64_t start = offset / page * page;
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

 private:
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
  const bool whole = VisitGuarded(window.At(), window.At() + count * sizeof(float),
                                  [&] { visit(cells, count, 0); });
  // A file that shrank while its window was visited may have shown zeros past its new end without a
  // bus error (the rest of the last page); reading again tells what the cells were.
  return whole && data_.Size() >= end;
}

void GridStream::AdviseSequential() const {
  (void)::posix_fadvise(data_.Descriptor(), 0, cells_ * static_cast<std::int64_t>(sizeof(float)),
                        POSIX_FADV_SEQUENTIAL);
}

}  // namespace kavrimo
