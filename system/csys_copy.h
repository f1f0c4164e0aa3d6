// Checked memory copy and fill.
//
// Each call is routed by the effective processor description: streaming
// kernels that bypass the cache (SSE), a small engine of precomputed copy and
// fill plans (MMX without SSE), or the portable library routines. With SSE,
// blocks whose traffic stays below three quarters of the last-level cache
// take the library routines, which are faster while the data stays cached.
// Every route writes the same bytes. Source and destination must not overlap.
#pragma once
#include <cstdint>

#include "system/csys_status.h"

// A negative count gives csysErrBadSize; 0 does nothing.
[[nodiscard]] csysStatus csys_memCopy(int32_t count, const void* source, void* destination);

// A negative count or one of 2^31 or more gives csysErrBadSize.
[[nodiscard]] csysStatus csys_memCopy64(uint32_t countLow, int32_t countHigh, const void* source, void* destination);

[[nodiscard]] csysStatus csys_memSet(uint8_t value, int32_t count, void* destination);

// Rows of rowBytes bytes, each row starting stride bytes after the previous.
// When the row length equals both strides the block is copied as one run
// (nothing when rowBytes x rows is 0, else csysErrBadSize when a factor is
// negative or the product reaches 2^31);
// otherwise a negative length or row count, or a stride shorter than a row,
// gives csysErrBadGeometry.
[[nodiscard]] csysStatus csys_memCopy2D(int32_t rowBytes, int32_t rows, int32_t sourceStride, int32_t destinationStride,
                                        const void* source, void* destination);
[[nodiscard]] csysStatus csys_memSet2D(uint8_t value, int32_t rowBytes, int32_t rows, int32_t stride,
                                       void* destination);

// repeatCount consecutive copies of the pattern. A pattern shorter than one
// byte or a negative count gives csysErrBadPattern; a fill of 2^31 bytes or
// more gives csysErrBadSize before anything is written.
[[nodiscard]] csysStatus csys_memFillPattern(const void* pattern, int32_t patternLength, int32_t repeatCount,
                                             void* destination);

// Traffic in bytes (read plus written) below which a block stays in the
// cache: the copy and fill stream past the cache only above it, and other
// kernels that stream their stores may ask it to follow the same rule.
int64_t csys_streamingThreshold();
