// The system's answers through POSIX: /proc/self/exe, the environment, the account database, the local
// time and the locale functions.
#include "runtime/system.h"

#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kavrimo {

std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return "./";
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

std::string EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool EnvironmentVariableSet(const char* name) { return std::getenv(name) != nullptr; }

std::string AccountHomeFolder() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

int CurrentLocalYear() {
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  return local.tm_year + 1900;
}

char UserLocaleDecimalSeparator() {
  const locale_t locale = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return '.';
  char separator = '.';
  const char* radix = ::nl_langinfo_l(RADIXCHAR, locale);
  if (radix != nullptr && std::strlen(radix) == 1) separator = radix[0];
  ::freelocale(locale);
  return separator;
}

float StrtofInCLocale(const char* text) {
  static const locale_t c_locale = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
  return ::strtof_l(text, nullptr, c_locale);
}

}  // namespace kavrimo
