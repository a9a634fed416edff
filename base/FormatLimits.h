#pragma once
// The largest wave format record (18-byte header plus extra bytes) that the
// conversion layer understands. Every stream keeps its format in a buffer of
// this size; a format chunk in a file larger than this is truncated to it.
#include <cstdint>

uint32_t largestFormatSize();
