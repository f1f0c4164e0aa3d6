// Status codes of the system and kernel layers.
//
// 0 is success, a negative value an error laid out as bit 31, a facility in
// bits 5..15 and a code in bits 0..4. A few functions return positive notices.
#pragma once
#include <cstdint>

typedef int32_t csysStatus;

constexpr csysStatus csysMakeStatus(uint32_t bits) { return static_cast<csysStatus>(bits); }

constexpr csysStatus csysOk = 0;
constexpr csysStatus csysErrFail = csysMakeStatus(0x80000000u);           // nothing usable / no output asked for
constexpr csysStatus csysErrNullArg = csysMakeStatus(0x80000002u);        // required pointer null, or empty slot
constexpr csysStatus csysErrNotX86 = csysMakeStatus(0x80000005u);         // processor architecture is not x86
constexpr csysStatus csysErrBadSize = csysMakeStatus(0x80000022u);        // negative size or overflowing product
constexpr csysStatus csysErrNoMemory = csysMakeStatus(0x80000023u);       // out of memory, or size beyond 31 bits
constexpr csysStatus csysErrBadGeometry = csysMakeStatus(0x80000029u);    // negative rows/length, short stride
constexpr csysStatus csysErrBadPattern = csysMakeStatus(0x8000002Au);     // pattern length < 1 or negative repeat
constexpr csysStatus csysErrShutDown = csysMakeStatus(0x80000044u);       // the system layer has shut down
constexpr csysStatus csysErrOsCall = csysMakeStatus(0x800000C2u);         // an operating-system call failed
constexpr csysStatus csysErrNoThreadObject = csysMakeStatus(0x800000C3u); // thread has no thread object
constexpr csysStatus csysErrThreadExited = csysMakeStatus(0x800000C4u);   // thread exited / no context list
constexpr csysStatus csysErrJobIndex = csysMakeStatus(0x80000100u);       // job-thread index out of range
constexpr csysStatus csysErrJobTimeout = csysMakeStatus(0x80000103u);     // job not finished in time / not run
constexpr csysStatus csysErrNegativeTimeout = csysMakeStatus(0x80000104u);
constexpr csysStatus csysErrJobClient = csysMakeStatus(0x80000105u);      // job thread cannot be a client
constexpr csysStatus csysErrNoGroup = csysMakeStatus(0x80000106u);        // thread-group handle empty
constexpr csysStatus csysErrFastPathDeclined = csysMakeStatus(0x80000601u);

// Facility of a status; computed unsigned so that the shift is well defined.
constexpr int32_t csysFacility(csysStatus status)
{
    return static_cast<int32_t>((static_cast<uint32_t>(status) >> 5) & 0x7FFu);
}

// A processor-specific kernel declined the call: take the portable path.
constexpr bool csysIsFastPathDecline(csysStatus status)
{
    return (static_cast<uint32_t>(status) & 0xFFE0u) == 0x600u;
}
