// Windows of a file mapped with mmap, and the SIGBUS handler that answers for a fault inside the
// faulting thread's own guarded window.
#include "runtime/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace kavrimo {
namespace {

std::uintptr_t PageSize() {
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

struct Guard {
  char* begin = nullptr;  // the window's mapping, whole pages
  char* end = nullptr;
  volatile sig_atomic_t cut_short = 0;
};

thread_local Guard t_guard_storage;
thread_local Guard* t_guard = nullptr;
struct sigaction g_previous_bus_handler;

void OnBusError(int signal, siginfo_t* info, void* context) {
  Guard* guard = t_guard;
  char* address = static_cast<char*>(info->si_addr);
  if (guard != nullptr && address >= guard->begin && address < guard->end) {
    const int saved_errno = errno;
    // The faulting page's start, as the address rounded down to the page.
    char* from = address - (reinterpret_cast<std::uintptr_t>(address) & (PageSize() - 1));
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
  PageSize();  // read before any handler can need it
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  return ::sigaction(SIGBUS, &action, &g_previous_bus_handler) == 0;
}

}  // namespace

MappedWindow::MappedWindow(const BinaryFile& file, std::int64_t offset, std::size_t length) {
  if (length == 0 || offset < 0) return;
  const auto page = static_cast<std::int64_t>(PageSize());
  const std::int64_t start = offset / page * page;
  const std::size_t span = length + static_cast<std::size_t>(offset - start);
  void* base = ::mmap(nullptr, span, PROT_READ, MAP_SHARED, file.Descriptor(), start);
  if (base == MAP_FAILED) return;
  (void)::madvise(base, span, MADV_SEQUENTIAL);
  base_ = base;
  mapped_ = (span + PageSize() - 1) / PageSize() * PageSize();
  data_ = static_cast<const char*>(base) + (offset - start);
  length_ = length;
  end_ = offset + static_cast<std::int64_t>(length);
}

MappedWindow::~MappedWindow() {
  if (base_ != nullptr) ::munmap(base_, mapped_);
}

void MappedWindow::Release() const {
  if (base_ != nullptr) (void)::madvise(base_, mapped_, MADV_DONTNEED);
}

bool BusErrorGuardAvailable() {
  static const bool installed = InstallBusErrorHandler();
  return installed;
}

BusErrorGuard::BusErrorGuard(const MappedWindow& window) {
  t_guard_storage.begin = static_cast<char*>(window.base_);
  t_guard_storage.end = t_guard_storage.begin + window.mapped_;
  t_guard_storage.cut_short = 0;
  t_guard = &t_guard_storage;
}

BusErrorGuard::~BusErrorGuard() { t_guard = nullptr; }

bool BusErrorGuard::CutShort() const { return t_guard_storage.cut_short != 0; }

}  // namespace kavrimo
