#pragma once

#include "app/MemoProcessor.h"

#include <cstddef>
#include <cstdint>

// The small network the memory-file fuzzer reads into: 3 inputs of 2 levels, the 20 slots as outputs.
TNetworkShape FuzzMemoryShape();
// Reads the bytes as a memory file of that shape and, when they are accepted, uses the memory: recognises and
// memorises once; then the same with the checksum made to fit. Returns true when the bytes as given were
// accepted; a refusal is a normal outcome, a crash is not.
bool FuzzMemoryFile(const uint8_t* data, size_t size);
