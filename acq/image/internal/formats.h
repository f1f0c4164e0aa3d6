// Internal to acquired images: the class of each pixel format and the pieces
// their conversions share.
#pragma once
#include <cstddef>
#include <cstdint>

#include "acq/image/acqimage.h"
#include "system/csys_status.h"

namespace cc_detail {
namespace acq {

// Rows of every buffer a conversion makes start on this many bytes.
constexpr int32_t kRowAlignment = 32;

// The luma weights of every grey conversion of colour.
constexpr double kRedWeight = 0.299;
constexpr double kGreenWeight = 0.587;
constexpr double kBlueWeight = 0.114;

[[noreturn]] void notSupported(const wchar_t* message = L"");
// A negative kernel status becomes its exception.
void check(csysStatus status);

// Whether a conversion has work to do: false without a frame (the result is
// an unbound buffer); a remote frame raises NotSupported.
bool convertible(const cc_AcqImage& image);

// A new buffer of width x height pels whose window starts at image
// coordinates offset.
template <class T>
ccPelBuffer<T> newBuffer(const ccPelPoint& offset, int64_t width, int64_t height)
{
    return ccPelBuffer<T>(ccPelRect(offset.x, offset.y, static_cast<int32_t>(width), static_cast<int32_t>(height)),
                          kRowAlignment);
}

// Three new planes of one geometry, filled through their row starts and
// shared stride, then tied into a three-plane buffer.
class NewPlanes {
public:
    NewPlanes(const ccPelPoint& offset, int64_t width, int64_t height);
    ccPelBuffer<unsigned char>& plane(int i) { return planes_[i]; }
    unsigned char* start(int i) { return starts_[i]; }
    int32_t stride() const { return stride_; }
    // Call once, after filling.
    cc3PlanePelBuffer take();

private:
    ccPelBuffer<unsigned char> planes_[3];
    unsigned char* starts_[3] = {nullptr, nullptr, nullptr};
    int32_t stride_ = 0;
};

// A new buffer of width pels per row, of source's window height and offset,
// each row filled by fill(source row, new row).
template <class T, class Source, class F>
ccPelBuffer<T> fillRows(const Source& source, int64_t width, F fill)
{
    const int64_t height = source.windowRect().height();
    ccPelBuffer<T> out = newBuffer<T>(source.windowOffset(), width, height);
    if (width > 0 && height > 0) {
        const auto* in = source.windowStart();
        T* to = out.windowStart();
        const ptrdiff_t inStride = source.typedRoot().stride(), outStride = out.typedRoot().stride();
        for (int64_t y = 0; y < height; ++y)
            fill(in + y * inStride, to + y * outStride);
    }
    return out;
}

// The same into three planes: fill(source row, first, second, third).
template <class Source, class F>
cc3PlanePelBuffer fillPlanes(const Source& source, int64_t width, F fill)
{
    const int64_t height = source.windowRect().height();
    NewPlanes planes(source.windowOffset(), width, height);
    if (width > 0 && height > 0) {
        const auto* in = source.windowStart();
        const ptrdiff_t inStride = source.typedRoot().stride(), outStride = planes.stride();
        for (int64_t y = 0; y < height; ++y)
            fill(in + y * inStride, planes.start(0) + y * outStride, planes.start(1) + y * outStride,
                 planes.start(2) + y * outStride);
    }
    return planes.take();
}

// The grey copied into three planes, widened to 16 bits, and the weighted
// grey of three planes (keeping their client transform); each result has
// the source's window size and offset.
cc3PlanePelBuffer planesFromGrey(const ccPelBuffer<unsigned char>& grey);
ccPelBuffer<unsigned short> widen(const ccPelBuffer<unsigned char>& grey);
ccPelBuffer<unsigned char> greyFromPlanes(const cc3PlanePelBuffer& planes);

} // namespace acq
} // namespace cc_detail

// What every format holds: its frame buffer.
template <class Buffer>
class cc_FrameAcqImage : public cc_AcqImage {
public:
    bool hasFrame() const override { return frame_.isBound(); }
    uint32_t width() const override { return static_cast<uint32_t>(frame_.windowRect().width()); }
    uint32_t height() const override { return static_cast<uint32_t>(frame_.windowRect().height()); }
    uint32_t rootWord() const override { return hasFrame() ? static_cast<uint32_t>(frame_.root().width()) : 0; }
    uint32_t rootStride() const override { return hasFrame() ? static_cast<uint32_t>(frame_.root().stride()) : 0; }
    bool isRemote() const override { return hasFrame() && !frame_.root().destination().isLocal(); }
    cc_PelBuffer* rawBuffer() override { return &frame_; }

protected:
    cc_FrameAcqImage(uint32_t code, const Buffer& frame) : cc_AcqImage(code), frame_(frame) {}

    // A new buffer of the frame's height and offset, width pels wide.
    template <class T>
    ccPelBuffer<T> newBuffer(int64_t width) const
    {
        return cc_detail::acq::newBuffer<T>(frame_.windowOffset(), width, frame_.windowRect().height());
    }
    cc_detail::acq::NewPlanes newPlanes(int64_t width) const
    {
        return cc_detail::acq::NewPlanes(frame_.windowOffset(), width, frame_.windowRect().height());
    }

    Buffer frame_;
};

// Frames held as bytes: the window width counts bytes of a row.
class cc_RawAcqImage : public cc_FrameAcqImage<ccPelBuffer<unsigned char>> {
protected:
    // NotSupported "Invalid Image Width" when the window width is not a
    // multiple of unit bytes.
    cc_RawAcqImage(uint32_t code, const ccPelBuffer<unsigned char>& frame, int64_t unit);

    // The kernels: (window width in bytes, rows, first byte, stride, then
    // the destination or the three planes and their stride).
    typedef csysStatus (*GreyKernel)(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, int32_t);
    typedef csysStatus (*PlaneKernel)(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, uint8_t*, uint8_t*,
                                      int32_t);

    int64_t bytes() const { return frame_.windowRect().width(); }
    int64_t rows() const { return frame_.windowRect().height(); }
    // A conversion by kernel, after the no-frame and remote rules, into a
    // new grey buffer or three new planes of width pels; the kernel runs
    // only over a window that is not empty.
    ccPelBuffer<unsigned char> kernelGrey(int64_t width, GreyKernel kernel) const;
    cc3PlanePelBuffer kernelPlanes(int64_t width, PlaneKernel kernel) const;
};

// Grey formats: the colour planes are three copies of the grey8 result.
class cc_GreyRawAcqImage : public cc_RawAcqImage {
public:
    cc3PlanePelBuffer planeBuffer() const override;

protected:
    using cc_RawAcqImage::cc_RawAcqImage;
};

class cc_Grey8AcqImage : public cc_GreyRawAcqImage {
public:
    explicit cc_Grey8AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_GreyRawAcqImage(1, frame, 1) {}
    // The frame itself.
    ccPelBuffer<unsigned char> grey8Buffer() const override;
};

// 16-bit storage: Grey10, Grey12, Grey14, Grey16 and big-endian Grey16.
class cc_WideGreyAcqImage : public cc_GreyRawAcqImage {
public:
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    ccPelBuffer<unsigned short> grey16Buffer() const override;

protected:
    cc_WideGreyAcqImage(uint32_t code, const ccPelBuffer<unsigned char>& frame) : cc_GreyRawAcqImage(code, frame, 2) {}

private:
    template <class T, class F>
    ccPelBuffer<T> convert(F pel) const;
};

class cc_Grey16AcqImage : public cc_WideGreyAcqImage {
public:
    explicit cc_Grey16AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_WideGreyAcqImage(2, frame) {}
};
class cc_Grey10AcqImage : public cc_WideGreyAcqImage {
public:
    explicit cc_Grey10AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_WideGreyAcqImage(13, frame) {}
};
class cc_Grey12AcqImage : public cc_WideGreyAcqImage {
public:
    explicit cc_Grey12AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_WideGreyAcqImage(14, frame) {}
};
class cc_Grey14AcqImage : public cc_WideGreyAcqImage {
public:
    explicit cc_Grey14AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_WideGreyAcqImage(17, frame) {}
};
class cc_Grey16BigEndianAcqImage : public cc_WideGreyAcqImage {
public:
    explicit cc_Grey16BigEndianAcqImage(const ccPelBuffer<unsigned char>& frame) : cc_WideGreyAcqImage(16, frame) {}
};

// Two 10- or 12-bit pels in three bytes: high byte of the first, the shared
// low bits, high byte of the second.
class cc_PackedGreyAcqImage : public cc_GreyRawAcqImage {
public:
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    ccPelBuffer<unsigned short> grey16Buffer() const override;

protected:
    cc_PackedGreyAcqImage(uint32_t code, const ccPelBuffer<unsigned char>& frame) : cc_GreyRawAcqImage(code, frame, 1)
    {
    }

private:
    template <class T, class F>
    ccPelBuffer<T> convert(F pel) const;
};

class cc_Grey10PackedAcqImage : public cc_PackedGreyAcqImage {
public:
    explicit cc_Grey10PackedAcqImage(const ccPelBuffer<unsigned char>& frame) : cc_PackedGreyAcqImage(18, frame) {}
};
class cc_Grey12PackedAcqImage : public cc_PackedGreyAcqImage {
public:
    explicit cc_Grey12PackedAcqImage(const ccPelBuffer<unsigned char>& frame) : cc_PackedGreyAcqImage(19, frame) {}
};

class cc_Packed16AcqImage : public cc_FrameAcqImage<ccPelBuffer<ccPackedRGB16Pel>> {
public:
    explicit cc_Packed16AcqImage(const ccPelBuffer<ccPackedRGB16Pel>& frame) : cc_FrameAcqImage(3, frame) {}
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    cc3PlanePelBuffer planeBuffer() const override;
    // The frame itself.
    ccPelBuffer<ccPackedRGB16Pel> rgb16Buffer() const override;
};

class cc_Packed32AcqImage : public cc_FrameAcqImage<ccPelBuffer<ccPackedRGB32Pel>> {
public:
    explicit cc_Packed32AcqImage(const ccPelBuffer<ccPackedRGB32Pel>& frame) : cc_FrameAcqImage(4, frame) {}
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    cc3PlanePelBuffer planeBuffer() const override;
    // The frame itself.
    ccPelBuffer<ccPackedRGB32Pel> rgb32Buffer() const override;
};

class cc_3PlaneAcqImage : public cc_FrameAcqImage<cc3PlanePelBuffer> {
public:
    explicit cc_3PlaneAcqImage(const cc3PlanePelBuffer& frame) : cc_FrameAcqImage(12, frame) {}
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    // The frame itself.
    cc3PlanePelBuffer planeBuffer() const override;
};

class cc_Bayer8AcqImage : public cc_RawAcqImage {
public:
    explicit cc_Bayer8AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_RawAcqImage(5, frame, 2) {}
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    cc3PlanePelBuffer planeBuffer() const override;
};

// No conversion of its frame is supported.
class cc_Bayer16AcqImage : public cc_RawAcqImage {
public:
    explicit cc_Bayer16AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_RawAcqImage(6, frame, 1) {}
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    cc3PlanePelBuffer planeBuffer() const override;
};

// The YCbCr layouts, each with its grey and colour kernels.
class cc_YCbCrAcqImage : public cc_RawAcqImage {
public:
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    cc3PlanePelBuffer planeBuffer() const override;

protected:
    // pelsPerUnit pels for every unit bytes of a row.
    cc_YCbCrAcqImage(uint32_t code, const ccPelBuffer<unsigned char>& frame, int64_t unit, int64_t pelsPerUnit,
                     GreyKernel grey, PlaneKernel colour)
        : cc_RawAcqImage(code, frame, unit), unit_(unit), pelsPerUnit_(pelsPerUnit), grey_(grey), colour_(colour)
    {
    }

private:
    int64_t pels() const { return bytes() / unit_ * pelsPerUnit_; }

    int64_t unit_;
    int64_t pelsPerUnit_;
    GreyKernel grey_;
    PlaneKernel colour_;
};

class cc_UYYVYYAcqImage : public cc_YCbCrAcqImage {
public:
    explicit cc_UYYVYYAcqImage(const ccPelBuffer<unsigned char>& frame);
};
class cc_UYVYAcqImage : public cc_YCbCrAcqImage {
public:
    explicit cc_UYVYAcqImage(const ccPelBuffer<unsigned char>& frame);
};
class cc_UYVAcqImage : public cc_YCbCrAcqImage {
public:
    explicit cc_UYVAcqImage(const ccPelBuffer<unsigned char>& frame);
};

// Three bytes per pel; grey goes through the planes.
class cc_Packed24AcqImage : public cc_RawAcqImage {
public:
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    cc3PlanePelBuffer planeBuffer() const override;

protected:
    // Byte 0 of a pel is blue when blueFirst, else red.
    cc_Packed24AcqImage(uint32_t code, const ccPelBuffer<unsigned char>& frame, bool blueFirst)
        : cc_RawAcqImage(code, frame, 3), blueFirst_(blueFirst)
    {
    }

private:
    bool blueFirst_;
};

class cc_RGB24AcqImage : public cc_Packed24AcqImage {
public:
    explicit cc_RGB24AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_Packed24AcqImage(10, frame, false) {}
};
class cc_BGR24AcqImage : public cc_Packed24AcqImage {
public:
    explicit cc_BGR24AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_Packed24AcqImage(15, frame, true) {}
};

// Three little-endian 16-bit channels per pel, red first.
class cc_RGB48AcqImage : public cc_RawAcqImage {
public:
    explicit cc_RGB48AcqImage(const ccPelBuffer<unsigned char>& frame) : cc_RawAcqImage(11, frame, 6) {}
    ccPelBuffer<unsigned char> grey8Buffer() const override;
    cc3PlanePelBuffer planeBuffer() const override;
    ccPelBuffer<unsigned short> grey16Buffer() const override;

private:
    template <class T, class F>
    ccPelBuffer<T> convert(F pel) const;
};
