// The start of every fuzz target: the process state that the front ends set before they convert, the
// decimal separator ".", so each target reads and writes numbers as a conversion does whatever the
// locale of the fuzzing machine.
#include "runtime/number_text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kavrimo::SetDecimalSeparator('.');
  return 0;
}
