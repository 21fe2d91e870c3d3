#include "tests/support/child_process.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

namespace kavrimo::testing_support {

std::string InChild(const std::function<std::string()>& body, bool unprivileged, int timeout_seconds) {
  int ends[2];
  if (::pipe(ends) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(static_cast<unsigned>(timeout_seconds));
    std::string report = "cannot become nobody";
    if (!unprivileged || ::geteuid() != 0 ||
        (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)) {
      try {
        report = body();
      } catch (const std::exception& e) {
        report = std::string("uncaught: ") + e.what();
      }
    }
    ::_exit(::write(ends[1], report.data(), report.size()) == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  ::close(ends[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<std::size_t>(n));
  ::close(ends[0]);
  int status = -1;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return "child failed: signal " + std::to_string(WTERMSIG(status)) + " " + report;
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return "child failed: exit " + std::to_string(WEXITSTATUS(status)) + " " + report;
  }
  return WIFEXITED(status) ? report : "child failed: " + report;
}

std::string InFreshProgram(const std::vector<std::string>& arguments) {
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>("/proc/self/exe")};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (child < 0) return "fork failed";
  int status = -1;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "exit " + std::to_string(WEXITSTATUS(status));
}

bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

}  // namespace kavrimo::testing_support
