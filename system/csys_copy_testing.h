// Test seam, not for callers: moves the size below which the streaming
// routes take the cached path, so that both sides are reached on small
// buffers.
#pragma once
#include <cstdint>

// Blocks whose traffic is below `bytes` take the cached path (a copy counts
// its bytes twice: read and written; a fill once). A negative value restores
// the threshold derived from the last-level cache.
void csys_overrideStreamingThreshold(int64_t bytes);
