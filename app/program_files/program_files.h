// Where the two programs find their files: the header template and the window's settings file. A
// front-end matter: only the window and the command line link this library; the engine is handed
// the template's name.
//
// A copy run from its build folder or carried around as a folder (portable use) keeps both beside
// the executable. An installed copy finds the template in ../share/kavrimo beside its bin folder,
// wherever its prefix is, and keeps the settings in the user's configuration folder, since the
// folder of an installed executable belongs to the system.
#pragma once

#include <string>

#include "runtime/system.h"  // ExecutableDirectory

namespace kavrimo {

inline constexpr const char* kTemplateName = "header.bin";
inline constexpr const char* kSettingsName = "kavrimo.ini";

// The parts of the user's environment the settings location depends on; empty when unset.
struct UserFolders {
  std::string xdg_config_home;  // $XDG_CONFIG_HOME
  std::string home;             // $HOME, or the home folder of the user's account when HOME is unset
};
UserFolders UserFoldersOfProcess();

struct ProgramFiles {
  std::string template_path;
  std::string settings_path;
  // The settings file lies in the user's configuration folder, which is created (mode 0700) when
  // the file is first written; false when it lies beside the executable.
  bool settings_in_user_folder = false;
};

// The files for an executable in executable_dir (ending in "/"), in this order:
// - the template: header.bin beside the executable, else ../share/kavrimo/header.bin from there;
//   when neither exists, the name beside the executable (whose absence the conversion reports);
// - the settings: kavrimo.ini beside the executable when the template was found there; otherwise
//   $XDG_CONFIG_HOME/kavrimo/kavrimo.ini, or $HOME/.config/kavrimo/kavrimo.ini when
//   XDG_CONFIG_HOME is empty or not an absolute path; beside the executable when neither folder
//   is known (an absolute HOME is needed too).
// Looks at the file system only to see whether a template exists; creates nothing.
ProgramFiles LocateProgramFiles(const std::string& executable_dir, const UserFolders& user);

// LocateProgramFiles for the running executable and the process's environment.
ProgramFiles LocateProgramFiles();

}  // namespace kavrimo
