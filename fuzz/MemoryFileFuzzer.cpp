// libFuzzer target: the memory-file reader.
#include "fuzz/MemoryFileTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzMemoryFile(data, size);
    return 0;
}
