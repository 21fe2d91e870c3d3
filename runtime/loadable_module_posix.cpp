// Modules through dlopen and dlsym.
#include "runtime/loadable_module.h"

#include <dlfcn.h>

#include "runtime/errors.h"

namespace kavrimo {

void* LoadModuleSymbol(const std::string& path, const std::string& symbol, const std::string& description) {
  // RTLD_NOW: a symbol the program does not provide is an error here, not a crash at its first call.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = ::dlerror();
    throw Error(description + " " + path + " cannot be loaded: " + (reason != nullptr ? reason : "unknown reason"));
  }
  ::dlerror();
  void* address = ::dlsym(module, symbol.c_str());
  if (address == nullptr) throw Error(description + " " + path + " has no " + symbol);
  return address;
}

}  // namespace kavrimo
