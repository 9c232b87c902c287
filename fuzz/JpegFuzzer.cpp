// libFuzzer target: the JPEG decoder.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzJpeg(data, size);
    return 0;
}
