// Modules of the program's own, opened while it runs: code whose libraries take longer to load than
// most commands take to run stays out of the programs until it is first needed.
//
// A module is linked against no copy of the runtime or the other layers: it takes their symbols from
// the program that opens it (which exports them), so that process-wide state (interruption flags, the
// bus-error guard, floating-point checks) and the identity of exception types stay one.
#pragma once

#include <string>

namespace kavrimo {

// Opens the module at path, binding all its symbols now, and returns the address of its symbol named
// symbol. The module stays loaded for the life of the process; opening it again returns the same
// symbol. Raises Error "<description> <path> cannot be loaded: <the system's reason>" when the file
// cannot be opened or one of its symbols cannot be bound, and "<description> <path> has no <symbol>"
// when it lacks the symbol.
void* LoadModuleSymbol(const std::string& path, const std::string& symbol, const std::string& description);

}  // namespace kavrimo
