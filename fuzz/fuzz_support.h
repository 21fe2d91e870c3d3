// Shared helpers of the fuzz targets: a private scratch folder per process, writing an input to a
// file, and the one way a target reports a finding.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace kavrimo::fuzz {

// /tmp/kavrimo-fuzz-<pid>, made on first use and removed with its contents when the process exits
// normally (libFuzzer ends a timed run through exit).
inline const std::string& ScratchDir() {
  // Never freed: the exit handler that removes the folder runs after static objects are destroyed.
  static const std::string* const dir = [] {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("kavrimo-fuzz-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    auto* const name = new std::string(path.string());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return name;
  }();
  return *dir;
}

// A text as an exception message carries it: up to its first NUL (the message is a C string).
inline std::string AsMessage(const std::string& text) { return std::string(text.c_str()); }

inline std::string ScratchFile(const std::string& name) { return ScratchDir() + "/" + name; }

inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A finding: the input broke a rule the target checks. Prints why and aborts, so libFuzzer saves the
// input as a crash.
[[noreturn]] inline void Finding(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "FINDING: %.*s %.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void Check(bool condition, std::string_view what, std::string_view detail = {}) {
  if (!condition) Finding(what, detail);
}

}  // namespace kavrimo::fuzz
