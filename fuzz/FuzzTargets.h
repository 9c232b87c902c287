#pragma once

#include <cstddef>
#include <cstdint>

// The decoders' entry points as the fuzzers and the corpus replay call them: every way a picture
// is read (header only, full decode, thumbnail). Returns true when the full decode succeeded;
// a decoding error is a normal outcome, a crash or hang is not.
bool FuzzJpeg(const uint8_t* data, size_t size);
bool FuzzBmp(const uint8_t* data, size_t size);
