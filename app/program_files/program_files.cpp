// Locating the template and the settings file from the executable's directory and the environment.
#include "app/conversion/program_files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace kavrimo {
namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string WithSlash(std::string directory) {
  if (directory.back() != '/') directory += '/';
  return directory;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return "./";
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

UserFolders UserFoldersOfProcess() {
  UserFolders user{Environment("XDG_CONFIG_HOME"), Environment("HOME")};
  if (std::getenv("HOME") == nullptr) {
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
      user.home = found->pw_dir;
    }
  }
  return user;
}

ProgramFiles LocateProgramFiles(const std::string& executable_dir, const UserFolders& user) {
  const std::string beside = WithSlash(executable_dir.empty() ? "./" : executable_dir);
  ProgramFiles files;
  files.template_path = beside + kTemplateName;
  files.settings_path = beside + kSettingsName;
  if (Exists(files.template_path)) return files;

  // The executable's directory is a real one (resolved through /proc/self/exe), so ".." may be taken
  // away as text: the name shown in messages reads /usr/share/..., not /usr/bin/../share/....
  const std::string shared =
      std::filesystem::path(beside + "../share/kavrimo/" + kTemplateName).lexically_normal().string();
  if (Exists(shared)) files.template_path = shared;

  std::string config;
  if (IsAbsolute(user.xdg_config_home)) {
    config = user.xdg_config_home;
  } else if (IsAbsolute(user.home)) {
    config = WithSlash(user.home) + ".config";
  } else {
    return files;
  }
  files.settings_path = WithSlash(config) + "kavrimo/" + kSettingsName;
  files.settings_in_user_folder = true;
  return files;
}

ProgramFiles LocateProgramFiles() { return LocateProgramFiles(ExecutableDirectory(), UserFoldersOfProcess()); }

}  // namespace kavrimo
