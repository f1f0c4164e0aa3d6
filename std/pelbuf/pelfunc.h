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
    // part in image coordinates); a bound destination keeps its window. An
    // unbound destination receives a new root of the source window's size
    // (rows aligned to 32 bytes) at the source's image coordinates. A remote
    // source is fetched; a destination over a remote root, or a remote
    // source and destination, raise BadParams. The destination takes the
    // source's client transform.
    static void copy(const ccPelBuffer_const<unsigned char>& source, ccPelBuffer<unsigned char>& destination);
    static ccPelBuffer<unsigned char> copyToNew8(const ccPelBuffer_const<unsigned char>& source);

    // Packed colour conversions. Byte 0 of a 32-bit pel is blue, 1 green,
    // 2 red, 3 the fourth value; a 16-bit pel holds the top 5, 6 and 5 bits
    // of red, green and blue, red highest. Every check runs before anything
    // is written.
    //
    // The merges take first (red), second (green) and third (blue) planes
    // whose windows are one image rectangle (else BadParams, as for an
    // unbound plane). A destination over another rectangle, or unbound,
    // becomes a new buffer over it (rows aligned to 32 bytes) with the first
    // plane's client transform; one over the same rectangle is written in
    // place.
    static void mergePlanesToPackedRGB16(const ccPelBuffer_const<unsigned char>& first,
        const ccPelBuffer_const<unsigned char>& second, const ccPelBuffer_const<unsigned char>& third,
        ccPelBuffer<ccPackedRGB16Pel>& destination);
    static void mergePlanesToPackedRGB32(const ccPelBuffer_const<unsigned char>& first,
        const ccPelBuffer_const<unsigned char>& second, const ccPelBuffer_const<unsigned char>& third,
        ccPelBuffer<ccPackedRGB32Pel>& destination, uint8_t fourth);
    // Writes each given plane (null: not wanted) from its byte; each must be
    // bound (ccPel::UnboundWindow), of the source window's size and of one
    // row stride with the others (ccPel::BadWindow), and takes the source's
    // client transform. An unbound source raises ccPel::UnboundWindow, here
    // and in the grey conversions.
    static void splitPackedRGB32ToPlanes(const ccPelBuffer_const<ccPackedRGB32Pel>& source,
        ccPelBuffer<unsigned char>* red, ccPelBuffer<unsigned char>* green, ccPelBuffer<unsigned char>* blue);
    // Grey = r * red + g * green + b * blue + offset for the pel's bytes r,
    // g and b, in fixed point with 14 fraction bits less one per halving
    // that brings the largest weight below 1, held to 0..255; weights of
    // exactly one channel copy its byte and ignore the offset. Written over
    // the common part of the two windows in image coordinates; an unbound
    // destination becomes a new buffer over the source window with its
    // client transform. More than 14 halvings or a value that is not finite
    // raise BadParams. The fast kernel, for values >= 0 that sum to at most
    // 256, truncates the scaled weights where the plain loop rounds them.
    static void packedRGB32ToGreyWeighted(const ccPelBuffer_const<ccPackedRGB32Pel>& source, double red,
        double green, double blue, double offset, ccPelBuffer<unsigned char>& destination);
    // The same with offset 0.
    static void packedRGB32ToGrey(const ccPelBuffer_const<ccPackedRGB32Pel>& source, double red, double green,
        double blue, ccPelBuffer<unsigned char>& destination);
};

// Facility 53: Overlap and BadParams.
void ccPelFuncStatusThrower(csysStatus status);
