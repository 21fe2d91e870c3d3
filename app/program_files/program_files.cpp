// Locating the template and the settings file from the executable's directory and the environment.
#include "app/program_files/program_files.h"

#include <filesystem>

#include "runtime/file.h"
#include "runtime/path.h"
#include "runtime/system.h"

namespace kavrimo {

UserFolders UserFoldersOfProcess() {
  UserFolders user{EnvironmentVariable("XDG_CONFIG_HOME"), EnvironmentVariable("HOME")};
  if (!EnvironmentVariableSet("HOME")) user.home = AccountHomeFolder();
  return user;
}

ProgramFiles LocateProgramFiles(const std::string& executable_dir, const UserFolders& user) {
  const std::string beside = WithTrailingSlash(executable_dir);
  ProgramFiles files;
  files.template_path = beside + kTemplateName;
  files.settings_path = beside + kSettingsName;
  if (PathExists(files.template_path)) return files;

  // The executable's directory is a real one (resolved through /proc/self/exe), so ".." may be taken
  // away as text: the name shown in messages reads /usr/share/..., not /usr/bin/../share/....
  const std::string shared =
      std::filesystem::path(beside + "../share/kavrimo/" + kTemplateName).lexically_normal().string();
  if (PathExists(shared)) files.template_path = shared;

  std::string config;
  if (IsAbsolutePath(user.xdg_config_home)) {
    config = user.xdg_config_home;
  } else if (IsAbsolutePath(user.home)) {
    config = WithTrailingSlash(user.home) + ".config";
  } else {
    return files;
  }
  files.settings_path = WithTrailingSlash(config) + "kavrimo/" + kSettingsName;
  files.settings_in_user_folder = true;
  return files;
}

ProgramFiles LocateProgramFiles() { return LocateProgramFiles(ExecutableDirectory(), UserFoldersOfProcess()); }

}  // namespace kavrimo
