// libFuzzer target: the bitmap decoder.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBmp(data, size);
    return 0;
}
