// What the programs ask of the system beyond files: where the executable lies, the user's environment
// and home folder, the local calendar, the user's locale, and the C library's number reading.
#pragma once

#include <string>

namespace kavrimo {

// The folder of the running executable (its real location, symbolic links to it resolved), ending in
// "/"; "./" when the system cannot tell.
std::string ExecutableDirectory();

// The value of an environment variable; empty when it is unset.
std::string EnvironmentVariable(const char* name);
bool EnvironmentVariableSet(const char* name);

// The home folder of the user's account (from the account database, not $HOME); empty when unknown.
std::string AccountHomeFolder();

// The current year of the local calendar.
int CurrentLocalYear();

// The decimal separator of the user's locale (LC_ALL / LC_NUMERIC / LANG), "." when it cannot be found
// or is longer than one byte.
char UserLocaleDecimalSeparator();

// The C library's strtof in the C locale on a NUL-terminated text: the nearest single, an infinity of
// the text's sign beyond the single range, a zero of its sign below it.
float StrtofInCLocale(const char* text);

}  // namespace kavrimo
