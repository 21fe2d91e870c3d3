// Test support: running part of a test in a forked child, so that what it changes (limits, signal
// dispositions, the user it runs as) never reaches the test process, or in a fresh copy of the program.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kavrimo::testing_support {

// Runs body in a forked child, which ends with _exit and reports what body returned through a pipe. As
// root and with unprivileged set, the child first becomes the user nobody, for whom permission bits
// count. The child is killed after timeout_seconds (so a body that would block reports it). Returns
// body's text, or "child failed: exit <status> ..." / "child failed: signal <number> ..." when the
// child did not end normally.
std::string InChild(const std::function<std::string()>& body, bool unprivileged = false, int timeout_seconds = 60);

// Runs this test program anew (executed afresh, so that nothing this process has loaded or set carries
// over) with arguments, its output going where this process's goes. Returns "exit <status>" or
// "signal <number>".
std::string InFreshProgram(const std::vector<std::string>& arguments);

// True when the tests run with AddressSanitizer, whose shadow memory rules out address-space limits.
bool UnderAddressSanitizer();

}  // namespace kavrimo::testing_support
