// Standard output and input over their descriptors, so that a failure is told from an end, and whether
// a standard stream is a terminal.
//
// DescriptorBuffer: a stream buffer over descriptor 1 that keeps the first failure's errno (a full
// disk, a closed descriptor). The program checks it before it exits, so lost results are an error,
// never a silent success. A descriptor that another process made non-blocking is waited for, not
// given up on.
// DescriptorInput: a stream buffer over descriptor 0 whose failed read raises Error
// "read error: <reason>" (standard input that is a folder, say) instead of looking like the end of
// the input; a stream that sets badbit in its exceptions passes it on to the caller.
#pragma once

#include <streambuf>
#include <vector>

namespace kavrimo {

// The descriptors of the three standard streams.
inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// True when the descriptor is open on a terminal.
bool IsTerminal(int descriptor);

class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd);
  ~DescriptorBuffer() override;
  // 0 while every write went through; otherwise the errno of the first that failed.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;
  std::streamsize xsputn(const char* data, std::streamsize count) override;

 private:
  bool Drain();
  bool WriteAll(const char* data, std::size_t count);

  int fd_;
  int error_ = 0;
  std::vector<char> buffer_;
};

class DescriptorInput : public std::streambuf {
 public:
  explicit DescriptorInput(int fd);

 protected:
  int_type underflow() override;

 private:
  int fd_;
  std::vector<char> buffer_;
};

}  // namespace kavrimo
