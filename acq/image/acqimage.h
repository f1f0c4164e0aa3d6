// Acquired images: one completed frame in the pixel format the camera
// delivered, and its conversions into the pel buffers the rest of the
// library understands (8-bit and 16-bit grey, three-plane colour, packed
// RGB16 and RGB32).
//
// Pixel-format codes: 1 Grey8, 2 Grey16, 3 packed RGB16, 4 packed RGB32,
// 5 Bayer8, 6 Bayer16, 7 UYYVYY, 8 UYVY, 9 UYV, 10 RGB24, 11 RGB48,
// 12 three-plane, 13 Grey10, 14 Grey12, 15 BGR24, 16 Grey16 big-endian,
// 17 Grey14, 18 packed Grey10, 19 packed Grey12. Frames of codes other than
// 3, 4 and 12 are 8-bit buffers whose window width counts bytes of a row.
//
// A frame whose root lives in the driver module's memory (remote) is only
// ever handed out unchanged: its pels are never read here.
#pragma once
#include <cstdint>

#include "std/except/except.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelroot3.h"
#include "std/ptrhandle.h"

// One frame of one pixel format; each format is a class of its own.
class cc_AcqImage {
public:
    cc_AcqImage(const cc_AcqImage&) = delete;
    cc_AcqImage& operator=(const cc_AcqImage&) = delete;
    virtual ~cc_AcqImage() = default;

    // True without a frame and for the frame's own code; false for a remote
    // frame and for 16-bit Bayer; otherwise true for codes 1, 2, 3, 4 and 12.
    virtual bool canConvertTo(uint32_t code) const;
    // The frame buffer is bound to a root.
    virtual bool hasFrame() const = 0;
    // The frame's window, in the buffer's own units (bytes for raw frames).
    virtual uint32_t width() const = 0;
    virtual uint32_t height() const = 0;
    // The width of the frame's root (0 without a frame).
    virtual uint32_t rootWord() const = 0;
    // The row stride of the frame's root, in pels (0 without a frame).
    virtual uint32_t rootStride() const = 0;
    virtual uint32_t format() const { return code_; }
    // The frame's root is in the driver module's memory.
    virtual bool isRemote() const = 0;

    // Without a frame each conversion gives an unbound buffer. A remote frame
    // asked for anything but its own storage raises ccAcqImage::NotSupported.
    // Otherwise the result is a new buffer of the frame's size in pels, rows
    // aligned to 32 bytes, at the frame's window offset.
    virtual ccPelBuffer<unsigned char> grey8Buffer() const = 0;
    virtual cc3PlanePelBuffer planeBuffer() const = 0;
    // grey8Buffer widened to 16 bits.
    virtual ccPelBuffer<unsigned short> grey16Buffer() const;
    // planeBuffer merged into packed 5-6-5 pels.
    virtual ccPelBuffer<ccPackedRGB16Pel> rgb16Buffer() const;
    // planeBuffer merged into packed 32-bit pels with 0 in the fourth byte.
    virtual ccPelBuffer<ccPackedRGB32Pel> rgb32Buffer() const;
    // The embedded frame buffer.
    virtual cc_PelBuffer* rawBuffer() = 0;

    // 16 for codes 2 and 16, 10 for 13 and 18, 12 for 14 and 19, 14 for 17,
    // 8 for every other code (Bayer16 and RGB48 included).
    static uint32_t bitsPerPel(uint32_t code);
    // False for the grey codes 1, 2, 13, 14, 17, 18 and 19, true for every
    // other code; big-endian Grey16 (16) counts as colour.
    static bool isColorFormat(uint32_t code);

protected:
    explicit cc_AcqImage(uint32_t code) : code_(code) {}

private:
    uint32_t code_;
};

// The shared holder of one acquired frame (or of none).
class ccAcqImage : public virtual ccRepBase {
public:
    cmDeclareErrorFamily(Errors, ccExceptionWithString, "class ccAcqImage::Errors");
    // Conversions of a remote frame to another storage, any conversion of a
    // 16-bit Bayer frame, a code without a class, and a raw width the
    // format's rows cannot hold ("Invalid Image Width").
    cmDeclareException(NotSupported, Errors, 0x100009D0u, "class ccAcqImage::NotSupported");

    // No frame.
    ccAcqImage();
    // The class of code over a copy of raw (sharing its root): codes 1, 2,
    // 5 to 11 and 13 to 19; any other code raises NotSupported, and so does
    // a window width the format does not divide.
    ccAcqImage(const ccPelBuffer<unsigned char>& raw, uint32_t code);
    explicit ccAcqImage(const ccPelBuffer<ccPackedRGB16Pel>& frame); // code 3
    explicit ccAcqImage(const ccPelBuffer<ccPackedRGB32Pel>& frame); // code 4
    explicit ccAcqImage(const cc3PlanePelBuffer& frame);             // code 12
    ccAcqImage(const ccAcqImage&) = delete;
    ccAcqImage& operator=(const ccAcqImage&) = delete;
    ~ccAcqImage() override;

    // Each forwards to the held frame; without one: not valid, format 0,
    // canConvertTo false, rawBuffer null and unbound buffers.
    bool isValid() const;
    uint32_t format() const;
    bool canConvertTo(uint32_t code) const;
    cc_PelBuffer* rawBuffer() const;
    ccPelBuffer<unsigned char> grey8Buffer() const;
    ccPelBuffer<unsigned short> grey16Buffer() const;
    cc3PlanePelBuffer planeBuffer() const;
    ccPelBuffer<ccPackedRGB16Pel> rgb16Buffer() const;
    ccPelBuffer<ccPackedRGB32Pel> rgb32Buffer() const;

private:
    cc_AcqImage* image_ = nullptr;
};
