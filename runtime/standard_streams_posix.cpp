// The standard streams' buffers over read, write and poll.
#include "runtime/standard_streams.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/errors.h"

namespace kavrimo {

bool IsTerminal(int descriptor) { return ::isatty(descriptor) == 1; }

DescriptorBuffer::DescriptorBuffer(int fd) : fd_(fd), buffer_(1 << 16) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

DescriptorBuffer::~DescriptorBuffer() { Drain(); }

bool DescriptorBuffer::WriteAll(const char* data, std::size_t count) {
  while (count > 0 && error_ == 0) {
    const ssize_t n = ::write(fd_, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Standard output shared with a process that made it non-blocking: wait until it takes more.
      pollfd ready{fd_, POLLOUT, 0};
      if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      break;
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return error_ == 0;
}

bool DescriptorBuffer::Drain() {
  const bool ok = WriteAll(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return ok;
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int DescriptorBuffer::sync() { return Drain() ? 0 : -1; }

std::streamsize DescriptorBuffer::xsputn(const char* data, std::streamsize count) {
  const auto size = static_cast<std::size_t>(count);
  if (size <= static_cast<std::size_t>(epptr() - pptr())) {
    std::memcpy(pptr(), data, size);
    pbump(static_cast<int>(count));
    return count;
  }
  if (!Drain() || !WriteAll(data, size)) return 0;
  return count;
}

DescriptorInput::DescriptorInput(int fd) : fd_(fd), buffer_(1 << 16) {
  setg(buffer_.data(), buffer_.data(), buffer_.data());
}

DescriptorInput::int_type DescriptorInput::underflow() {
  ssize_t n;
  do {
    n = ::read(fd_, buffer_.data(), buffer_.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) throw Error(std::string("read error: ") + std::strerror(errno));
  setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
  return n == 0 ? traits_type::eof() : traits_type::to_int_type(buffer_[0]);
}

}  // namespace kavrimo
