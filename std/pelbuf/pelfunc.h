// Pel functions: 8-bit buffer copies with their window checks, the
// processor level that picks fast kernels, and the errors of both. The
// hand-over of a buffer over a remote root is ccPelBuffer<T>::fromRemote.
#pragma once
#include <cstdint>

#include "std/except/except.h"
#include "std/pelbuf/pelbuf.h"
#include "system/csys_cpu.h"
#include "system/csys_status.h"

class ccPelFunc {
public:
    cmDeclareErrorFamily(Errors, ccException, "class ccPelFunc::Errors");
    // Registered and archivable; raised by nothing here.
    cmDeclareException(Range, Errors, 0x10000500u, "class ccPelFunc::Range");
    // The windows of a copy share pels and are not the same window.
    cmDeclareException(Overlap, Errors, 0x10000501u, "class ccPelFunc::Overlap");
    // A buffer unbound or of the wrong shape, or a hand-over not allowed.
    cmDeclareException(BadParams, Errors, 0x10000502u, "class ccPelFunc::BadParams");

    static constexpr uint32_t kMmxBit = 0x1000;

    // The level of a processor description: 2, 3 or 5 for generations 1, 2
    // and 3 or 4 (else 0), plus kMmxBit for an x86 with MMX.
    static uint32_t levelOf(const csysCpuInfo& info);
    // Makes the effective description the detected one and keeps its level;
    // a failing system layer raises through ccThrowStatus.
    static void initCpuLevel();
    // The kept level, set first if it is not yet.
    static uint32_t cpuLevel();
    // Whether the kept level has kMmxBit.
    static bool useMmx();
    // Whether the effective description, read now, is an x86 with SSE.
    static bool useStreamingMmx();

    // The window preparation of every 8-bit copy, on working copies of the
    // two buffers: an unbound source raises ccPel::UnboundWindow. With a
    // bound destination both windows become their intersection in image
    // coordinates (both empty when it is), and Overlap is raised when the
    // two are different windows on the same pels.
    static void checkCopyWindows(ccPelBuffer_const<unsigned char>& source, ccPelBuffer<unsigned char>& destination);
    // Copies the source window into the destination window (their common
    // part in image coordinates). An unbound destination receives a new root
    // of the source window's size (rows aligned to 32 bytes) at the source's
    // image coordinates. A remote source is fetched; a destination over a
    // remote root, or a remote source and destination, raise BadParams. The
    // destination takes the source's client transform.
    static void copy(const ccPelBuffer_const<unsigned char>& source, ccPelBuffer<unsigned char>& destination);
    static ccPelBuffer<unsigned char> copyToNew8(const ccPelBuffer_const<unsigned char>& source);
};

// Facility 53: Overlap and BadParams.
void ccPelFuncStatusThrower(csysStatus status);
