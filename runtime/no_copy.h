// A base for owners of something that must be let go exactly once (a folder, a process, a signal
// mask): it makes the class neither copyable nor assignable, which the owner then need not say itself.
#pragma once

namespace kavrimo {

class NoCopy {
 public:
  NoCopy(const NoCopy&) = delete;
  NoCopy& operator=(const NoCopy&) = delete;

 protected:
  NoCopy() = default;
  ~NoCopy() = default;
};

}  // namespace kavrimo
