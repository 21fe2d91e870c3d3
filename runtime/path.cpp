#include "runtime/path.h"

#include <string_view>

#include "runtime/ascii_case.h"

namespace kavrimo {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty()) return "./";
  if (folder.back() != '/') folder += '/';
  return folder;
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string ReplaceExtension(const std::string& name, const std::string& extension) {
  const std::size_t last = name.find_last_of("./\\:");
  if (last != std::string::npos && name[last] == '.') return name.substr(0, last) + extension;
  return name + extension;
}

bool HasExtension(const std::string& name, const std::string& extension) {
  return name.size() >= extension.size() &&
         AsciiLower(std::string_view(name).substr(name.size() - extension.size())) == AsciiLower(extension);
}

}  // namespace kavrimo
