#include "system/csys_copy.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include <emmintrin.h>
#include <xmmintrin.h>

#include "system/csys_copy_testing.h"
#include "system/csys_cpu.h"

namespace {

using byte = unsigned char;

constexpr int64_t kLimit = int64_t{1} << 31;

uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// Bytes from p up to the next multiple of align, at most limit.
size_t headTo(const void* p, size_t align, size_t limit)
{
    size_t head = static_cast<size_t>(-address(p)) & (align - 1);
    return head < limit ? head : limit;
}

// Prefetches may look past the end of the source; the address is formed as an
// integer so that no out-of-range pointer is computed.
inline void prefetchAhead(const byte* p, size_t distance)
{
    _mm_prefetch(reinterpret_cast<const char*>(address(p) + distance), _MM_HINT_NTA);
}

inline void copyBytes(size_t n, const byte* s, byte* d)
{
    for (size_t i = 0; i < n; ++i)
        d[i] = s[i];
}

inline void fillBytes(byte v, size_t n, byte* d)
{
    for (size_t i = 0; i < n; ++i)
        d[i] = v;
}

inline uint64_t load64(const byte* p)
{
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

inline void store64(byte* p, uint64_t w) { std::memcpy(p, &w, 8); }

// ---- Streaming kernels: aligned non-temporal stores, a store fence at the end.

// 64-byte blocks of four loads and four streaming stores, after head bytes
// that align the destination. Copy A: source and destination share their low
// 16 address bits, so once the destination is 64-aligned the source is too
// and its loads are aligned. Copy B aligns the destination to 32 bytes only,
// loads unaligned and prefetches one line further ahead.
template <bool SharedAlignment>
void streamCopy(size_t count, const byte* s, byte* d)
{
    size_t head = headTo(d, SharedAlignment ? 64 : 32, count);
    copyBytes(head, s, d);
    s += head;
    d += head;
    size_t rest = count - head;
    if (!SharedAlignment) {
        prefetchAhead(s, 0);
        prefetchAhead(s, 32);
    }
    for (size_t n = rest / 64; n; --n) {
        prefetchAhead(s, 64);
        if (!SharedAlignment)
            prefetchAhead(s, 96);
        const __m128i* src = reinterpret_cast<const __m128i*>(s);
        __m128i x[4];
        for (int i = 0; i < 4; ++i)
            x[i] = SharedAlignment ? _mm_load_si128(src + i) : _mm_loadu_si128(src + i);
        __m128i* dst = reinterpret_cast<__m128i*>(d);
        for (int i = 0; i < 4; ++i)
            _mm_stream_si128(dst + i, x[i]);
        s += 64;
        d += 64;
    }
    copyBytes(rest % 64, s, d);
    _mm_sfence();
}

// The destination stride is a multiple of 32, so the first row's head fits
// every row. B also prefetches the second line of each row at its start.
void streamCopy2D(bool variantB, size_t rowBytes, size_t rows, ptrdiff_t sourceStride, ptrdiff_t destinationStride,
                  const byte* s0, byte* d0)
{
    size_t head = headTo(d0, 32, rowBytes);
    size_t blocks = (rowBytes - head) / 32;
    size_t tail = (rowBytes - head) % 32;
    for (size_t r = 0; r < rows; ++r) {
        const byte* s = s0 + static_cast<ptrdiff_t>(r) * sourceStride;
        byte* d = d0 + static_cast<ptrdiff_t>(r) * destinationStride;
        if (variantB)
            prefetchAhead(s, 32);
        copyBytes(head, s, d);
        s += head;
        d += head;
        for (size_t n = blocks; n; --n) {
            prefetchAhead(s, 64);
            const __m128i* src = reinterpret_cast<const __m128i*>(s);
            __m128i x0 = _mm_loadu_si128(src + 0);
            __m128i x1 = _mm_loadu_si128(src + 1);
            __m128i* dst = reinterpret_cast<__m128i*>(d);
            _mm_stream_si128(dst + 0, x0);
            _mm_stream_si128(dst + 1, x1);
            s += 32;
            d += 32;
        }
        copyBytes(tail, s, d);
    }
    _mm_sfence();
}

void streamFillRow(__m128i x, byte v, size_t head, size_t count, byte* d)
{
    fillBytes(v, head, d);
    d += head;
    size_t rest = count - head;
    for (size_t n = rest / 32; n; --n) {
        __m128i* dst = reinterpret_cast<__m128i*>(d);
        _mm_stream_si128(dst + 0, x);
        _mm_stream_si128(dst + 1, x);
        d += 32;
    }
    fillBytes(v, rest % 32, d);
}

void streamFill(byte v, size_t count, byte* d)
{
    streamFillRow(_mm_set1_epi8(static_cast<char>(v)), v, headTo(d, 32, count), count, d);
    _mm_sfence();
}

// The stride is a multiple of 32: one head for every row.
void streamFill2D(byte v, size_t rowBytes, size_t rows, ptrdiff_t stride, byte* d0)
{
    __m128i x = _mm_set1_epi8(static_cast<char>(v));
    size_t head = headTo(d0, 32, rowBytes);
    for (size_t r = 0; r < rows; ++r)
        streamFillRow(x, v, head, rowBytes, d0 + static_cast<ptrdiff_t>(r) * stride);
    _mm_sfence();
}

// ---- Plan engine: head bytes to an 8-byte destination boundary, a body of
// aligned 8-byte stores, tail bytes. A plan built for one row fits every row
// whose addresses keep the same alignment.

struct CopyPlan {
    size_t head;
    unsigned shift;      // 8 x the source offset within 8 bytes after the head
    unsigned complement; // 64 - shift
    size_t body;         // multiple of 8
    size_t tail;         // 0..7
};

CopyPlan makeCopyPlan(const byte* d, const byte* s, size_t count)
{
    CopyPlan p;
    p.head = headTo(d, 8, count);
    p.shift = static_cast<unsigned>(8 * ((address(s) + p.head) & 7));
    p.complement = 64 - p.shift;
    p.body = (count - p.head) & ~size_t{7};
    p.tail = (count - p.head) & 7;
    return p;
}

// The body merges neighbouring aligned source words. The first and last words
// are read only as far as they belong to the source, and an aligned source
// (shift 0) is copied word for word.
void runCopyPlan(const CopyPlan& p, const byte* s, byte* d)
{
    copyBytes(p.head, s, d);
    s += p.head;
    d += p.head;
    size_t words = p.body / 8;
    if (p.shift == 0) {
        for (size_t i = 0; i < words; ++i)
            store64(d + 8 * i, load64(s + 8 * i));
    } else if (words > 0) {
        size_t m = p.shift / 8;
        // Word k of the aligned source starts at s - m + 8k.
        uint64_t current = 0;
        std::memcpy(reinterpret_cast<byte*>(&current) + m, s, 8 - m);
        for (size_t i = 0; i < words; ++i) {
            const byte* nextWord = s + 8 * (i + 1) - m;
            uint64_t next = 0;
            if (i + 1 < words)
                next = load64(nextWord);
            else
                std::memcpy(&next, nextWord, m);
            store64(d + 8 * i, (current >> p.shift) | (next << p.complement));
            current = next;
        }
    }
    copyBytes(p.tail, s + p.body, d + p.body);
}

struct FillPlan {
    size_t head;
    size_t body;
    size_t tail;
};

FillPlan makeFillPlan(const byte* d, size_t count)
{
    FillPlan p;
    p.head = headTo(d, 8, count);
    p.body = (count - p.head) & ~size_t{7};
    p.tail = (count - p.head) & 7;
    return p;
}

void runFillPlan(const FillPlan& p, byte v, byte* d)
{
    uint64_t word = v * 0x0101010101010101ull;
    fillBytes(v, p.head, d);
    d += p.head;
    for (size_t i = 0; i < p.body / 8; ++i)
        store64(d + 8 * i, word);
    fillBytes(v, p.tail, d + p.body);
}

// ---- Cached below the threshold
//
// Streaming stores lose the cache hits: on blocks that fit in the cache the
// library routines are 2-4 times faster. Measured with bench_copy (32 MiB
// last-level cache), memcpy falls to the streaming speed when its traffic
// (bytes read plus bytes written) reaches about half the cache, memset when
// it reaches the whole cache; three quarters of the cache lies between.

constexpr int64_t kUnknownCacheThreshold = int64_t{4} << 20;

std::atomic<int64_t> gForcedThreshold{-1};

int64_t derivedThreshold()
{
    uint64_t bytes = 0;
    if (csys_lastLevelCacheBytes(&bytes) < 0 || bytes == 0)
        return kUnknownCacheThreshold;
    return static_cast<int64_t>(bytes / 4 * 3);
}

int64_t threshold()
{
    int64_t forced = gForcedThreshold.load(std::memory_order_relaxed);
    static const int64_t derived = derivedThreshold();
    return forced >= 0 ? forced : derived;
}

bool cached(size_t traffic) { return static_cast<int64_t>(traffic) < threshold(); }

// ---- Dispatch

struct Route {
    bool fast; // x86 with MMX
    bool sse;
    bool sse2;
};

csysStatus route(Route* r)
{
    int32_t cpuClass = 0;
    uint32_t features = 0;
    csysStatus st = csys_cpuDispatchInfo(&cpuClass, &features);
    if (st < 0)
        return st;
    r->fast = cpuClass == 1 && (features & csysCpuMmx) != 0;
    r->sse = (features & csysCpuSse) != 0;
    r->sse2 = (features & csysCpuSse2) != 0;
    return csysOk;
}

bool sameLow16(const void* a, const void* b) { return ((address(a) ^ address(b)) & 0xFFFF) == 0; }

csysStatus copyDispatch(size_t count, const byte* s, byte* d)
{
    Route r;
    csysStatus st = route(&r);
    if (st < 0)
        return st;
    if (!r.fast)
        std::memcpy(d, s, count);
    else if (r.sse && cached(2 * count))
        std::memcpy(d, s, count);
    else if (r.sse) {
        if (r.sse2 && sameLow16(s, d))
            streamCopy<true>(count, s, d);
        else
            streamCopy<false>(count, s, d);
    } else
        runCopyPlan(makeCopyPlan(d, s, count), s, d);
    return csysOk;
}

csysStatus fillDispatch(byte v, size_t count, byte* d)
{
    Route r;
    csysStatus st = route(&r);
    if (st < 0)
        return st;
    if (!r.fast || (r.sse && cached(count)))
        std::memset(d, v, count);
    else if (r.sse)
        streamFill(v, count, d);
    else
        runFillPlan(makeFillPlan(d, count), v, d);
    return csysOk;
}

csysStatus copy2DDispatch(size_t rowBytes, size_t rows, ptrdiff_t ss, ptrdiff_t ds, const byte* s, byte* d)
{
    Route r;
    csysStatus st = route(&r);
    if (st < 0)
        return st;
    if (!r.fast || (r.sse && ds % 32 == 0 && cached(2 * rowBytes * rows))) {
        for (size_t i = 0; i < rows; ++i)
            std::memcpy(d + static_cast<ptrdiff_t>(i) * ds, s + static_cast<ptrdiff_t>(i) * ss, rowBytes);
    } else if (r.sse && ds % 32 == 0) {
        streamCopy2D(!(r.sse2 && sameLow16(s, d)), rowBytes, rows, ss, ds, s, d);
    } else if (ss % 8 == 0 && ds % 8 == 0) {
        CopyPlan plan = makeCopyPlan(d, s, rowBytes);
        for (size_t i = 0; i < rows; ++i)
            runCopyPlan(plan, s + static_cast<ptrdiff_t>(i) * ss, d + static_cast<ptrdiff_t>(i) * ds);
    } else {
        for (size_t i = 0; i < rows; ++i) {
            const byte* rs = s + static_cast<ptrdiff_t>(i) * ss;
            byte* rd = d + static_cast<ptrdiff_t>(i) * ds;
            runCopyPlan(makeCopyPlan(rd, rs, rowBytes), rs, rd);
        }
    }
    return csysOk;
}

csysStatus fill2DDispatch(byte v, size_t rowBytes, size_t rows, ptrdiff_t stride, byte* d)
{
    Route r;
    csysStatus st = route(&r);
    if (st < 0)
        return st;
    if (!r.fast || stride % 8 != 0 || (r.sse && stride % 32 == 0 && cached(rowBytes * rows))) {
        for (size_t i = 0; i < rows; ++i)
            std::memset(d + static_cast<ptrdiff_t>(i) * stride, v, rowBytes);
    } else if (r.sse && stride % 32 == 0) {
        streamFill2D(v, rowBytes, rows, stride, d);
    } else {
        FillPlan plan = makeFillPlan(d, rowBytes);
        for (size_t i = 0; i < rows; ++i)
            runFillPlan(plan, v, d + static_cast<ptrdiff_t>(i) * stride);
    }
    return csysOk;
}

} // namespace

void csys_overrideStreamingThreshold(int64_t bytes)
{
    gForcedThreshold.store(bytes < 0 ? -1 : bytes, std::memory_order_relaxed);
}

int64_t csys_streamingThreshold() { return threshold(); }

csysStatus csys_memCopy(int32_t count, const void* source, void* destination)
{
    if (count < 0)
        return csysErrBadSize;
    if (count == 0)
        return csysOk;
    if (!source || !destination)
        return csysErrNullArg;
    return copyDispatch(static_cast<size_t>(count), static_cast<const byte*>(source), static_cast<byte*>(destination));
}

csysStatus csys_memCopy64(uint32_t countLow, int32_t countHigh, const void* source, void* destination)
{
    if (countHigh != 0 || countLow >= static_cast<uint64_t>(kLimit))
        return csysErrBadSize;
    return csys_memCopy(static_cast<int32_t>(countLow), source, destination);
}

csysStatus csys_memSet(uint8_t value, int32_t count, void* destination)
{
    if (count < 0)
        return csysErrBadSize;
    if (count == 0)
        return csysOk;
    if (!destination)
        return csysErrNullArg;
    return fillDispatch(value, static_cast<size_t>(count), static_cast<byte*>(destination));
}

csysStatus csys_memCopy2D(int32_t rowBytes, int32_t rows, int32_t sourceStride, int32_t destinationStride,
                          const void* source, void* destination)
{
    if (rowBytes == sourceStride && rowBytes == destinationStride) {
        int64_t total = int64_t{rowBytes} * rows;
        if (total == 0)
            return csysOk;
        // Two negative factors would make a positive product.
        if (rowBytes < 0 || rows < 0)
            return csysErrBadSize;
        return csys_memCopy64(static_cast<uint32_t>(total), static_cast<int32_t>(total >> 32), source, destination);
    }
    if (rowBytes < 0 || rows < 0 || sourceStride < rowBytes || destinationStride < rowBytes)
        return csysErrBadGeometry;
    if (rowBytes == 0 || rows == 0)
        return csysOk;
    if (!source || !destination)
        return csysErrNullArg;
    return copy2DDispatch(static_cast<size_t>(rowBytes), static_cast<size_t>(rows), sourceStride, destinationStride,
                          static_cast<const byte*>(source), static_cast<byte*>(destination));
}

csysStatus csys_memSet2D(uint8_t value, int32_t rowBytes, int32_t rows, int32_t stride, void* destination)
{
    if (rowBytes == stride) {
        int64_t total = int64_t{rowBytes} * rows;
        if (total == 0)
            return csysOk;
        if (rowBytes < 0 || rows < 0)
            return csysErrBadSize;
        if (total >= kLimit)
            return csysErrBadSize;
        return csys_memSet(value, static_cast<int32_t>(total), destination);
    }
    if (rowBytes < 0 || rows < 0 || stride < rowBytes)
        return csysErrBadGeometry;
    if (rowBytes == 0 || rows == 0)
        return csysOk;
    if (!destination)
        return csysErrNullArg;
    return fill2DDispatch(value, static_cast<size_t>(rowBytes), static_cast<size_t>(rows), stride,
                          static_cast<byte*>(destination));
}

csysStatus csys_memFillPattern(const void* pattern, int32_t patternLength, int32_t repeatCount, void* destination)
{
    if (patternLength < 1 || repeatCount < 0)
        return csysErrBadPattern;
    if (repeatCount == 0)
        return csysOk;
    if (!pattern || !destination)
        return csysErrNullArg;
    // The whole size is checked before anything is written, so the fill is
    // never partial.
    int64_t total = int64_t{patternLength} * repeatCount;
    if (total >= kLimit)
        return csysErrBadSize;
    const byte* p = static_cast<const byte*>(pattern);
    if (patternLength == 1)
        return csys_memSet(p[0], repeatCount, destination);
    if (patternLength <= 8) {
        bool uniform = true;
        for (int32_t i = 1; i < patternLength && uniform; ++i)
            uniform = p[i] == p[0];
        if (uniform)
            return csys_memSet(p[0], static_cast<int32_t>(total), destination);
    }
    byte* d = static_cast<byte*>(destination);
    for (int32_t i = 0; i < repeatCount; ++i)
        std::memcpy(d + static_cast<ptrdiff_t>(i) * patternLength, p, static_cast<size_t>(patternLength));
    return csysOk;
}
