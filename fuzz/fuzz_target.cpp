// libFuzzer driver; FUZZ_ENTRY names the entry of fuzz_entries.h this target runs.
#include <cstdlib>

#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!FUZZ_ENTRY(data, size)) std::abort();
    return 0;
}
