// kavrimo-cli: the command-line front end (batch conversion, image inspection).
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("kavrimo-cli 1.0.0");
    return 0;
  }
  std::puts("Usage: kavrimo-cli [--help] [--version]");
  return 0;
}
