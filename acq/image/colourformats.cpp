// The colour formats: packed RGB16 and RGB32, three planes, Bayer mosaics,
// YCbCr layouts, packed 24-bit and 48-bit colour.
#include "acq/image/internal/formats.h"
#include "kernels/cip_bayer.h"
#include "kernels/cip_ycbcr.h"
#include "std/pelbuf/pelfunc.h"

using namespace cc_detail::acq;

namespace {

// The 8-bit channels of a 5-6-5 pel.
unsigned char red8(uint16_t v) { return static_cast<unsigned char>((v >> 11) << 3); }
unsigned char green8(uint16_t v) { return static_cast<unsigned char>(((v >> 5) & 0x3F) << 2); }
unsigned char blue8(uint16_t v) { return static_cast<unsigned char>((v & 0x1F) << 3); }

int32_t narrow(int64_t size) { return static_cast<int32_t>(size); }

csysStatus bayerGrey(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, uint8_t* grey,
                     int32_t greyStride)
{
    return cip_convertBayer8ToGreyscale(width, height, source, sourceStride, kRedWeight, kGreenWeight, kBlueWeight,
                                        grey, greyStride);
}

// Packed 24-bit pels whose first byte is blue.
csysStatus bgrPlanes(int32_t width, int32_t height, const uint8_t* source, int32_t sourceStride, uint8_t* red,
                     uint8_t* green, uint8_t* blue, int32_t planeStride)
{
    return cip_convertPacked24ToPlanesTyped(width, height, source, sourceStride, blue, green, red, planeStride);
}

} // namespace

// ---- kernels over raw frames ----

ccPelBuffer<unsigned char> cc_RawAcqImage::kernelGrey(int64_t width, GreyKernel kernel) const
{
    if (!convertible(*this))
        return {};
    ccPelBuffer<unsigned char> out = newBuffer<unsigned char>(width);
    if (width > 0 && rows() > 0)
        check(kernel(narrow(bytes()), narrow(rows()), frame_.windowStart(), frame_.typedRoot().stride(),
                     out.windowStart(), out.typedRoot().stride()));
    return out;
}

cc3PlanePelBuffer cc_RawAcqImage::kernelPlanes(int64_t width, PlaneKernel kernel) const
{
    if (!convertible(*this))
        return {};
    NewPlanes planes = newPlanes(width);
    if (width > 0 && rows() > 0)
        check(kernel(narrow(bytes()), narrow(rows()), frame_.windowStart(), frame_.typedRoot().stride(),
                     planes.start(0), planes.start(1), planes.start(2), planes.stride()));
    return planes.take();
}

// ---- packed RGB16 ----

ccPelBuffer<unsigned char> cc_Packed16AcqImage::grey8Buffer() const
{
    if (!convertible(*this))
        return {};
    const int64_t width = frame_.windowRect().width();
    return fillRows<unsigned char>(frame_, width, [width](const ccPackedRGB16Pel* in, unsigned char* out) {
        for (int64_t x = 0; x < width; ++x) {
            const uint16_t v = in[x].value;
            out[x] = static_cast<unsigned char>((red8(v) + 2 * green8(v) + blue8(v)) >> 2);
        }
    });
}

cc3PlanePelBuffer cc_Packed16AcqImage::planeBuffer() const
{
    if (!convertible(*this))
        return {};
    const int64_t width = frame_.windowRect().width();
    const auto split = [width](const ccPackedRGB16Pel* in, unsigned char* r, unsigned char* g, unsigned char* b) {
        for (int64_t x = 0; x < width; ++x) {
            r[x] = red8(in[x].value);
            g[x] = green8(in[x].value);
            b[x] = blue8(in[x].value);
        }
    };
    return fillPlanes(frame_, width, split);
}

ccPelBuffer<ccPackedRGB16Pel> cc_Packed16AcqImage::rgb16Buffer() const { return frame_; }

// ---- packed RGB32 ----

ccPelBuffer<unsigned char> cc_Packed32AcqImage::grey8Buffer() const
{
    if (!convertible(*this))
        return {};
    ccPelBuffer<unsigned char> out = newBuffer<unsigned char>(frame_.windowRect().width());
    ccPelFunc::packedRGB32ToGrey(frame_, kRedWeight, kGreenWeight, kBlueWeight, out);
    return out;
}

cc3PlanePelBuffer cc_Packed32AcqImage::planeBuffer() const
{
    if (!convertible(*this))
        return {};
    NewPlanes planes = newPlanes(frame_.windowRect().width());
    ccPelFunc::splitPackedRGB32ToPlanes(frame_, &planes.plane(0), &planes.plane(1), &planes.plane(2));
    return planes.take();
}

ccPelBuffer<ccPackedRGB32Pel> cc_Packed32AcqImage::rgb32Buffer() const { return frame_; }

// ---- three planes ----

ccPelBuffer<unsigned char> cc_3PlaneAcqImage::grey8Buffer() const
{
    if (!convertible(*this))
        return {};
    return greyFromPlanes(frame_);
}

cc3PlanePelBuffer cc_3PlaneAcqImage::planeBuffer() const { return frame_; }

// ---- Bayer mosaics ----

ccPelBuffer<unsigned char> cc_Bayer8AcqImage::grey8Buffer() const { return kernelGrey(bytes(), &bayerGrey); }

// Phase 0, as the grey conversion has it.
cc3PlanePelBuffer cc_Bayer8AcqImage::planeBuffer() const { return kernelPlanes(bytes(), &cip_convertBayer8ToRGBTyped); }

ccPelBuffer<unsigned char> cc_Bayer16AcqImage::grey8Buffer() const
{
    if (hasFrame())
        notSupported();
    return {};
}

cc3PlanePelBuffer cc_Bayer16AcqImage::planeBuffer() const
{
    if (hasFrame())
        notSupported();
    return {};
}

// ---- YCbCr ----

ccPelBuffer<unsigned char> cc_YCbCrAcqImage::grey8Buffer() const { return kernelGrey(pels(), grey_); }

cc3PlanePelBuffer cc_YCbCrAcqImage::planeBuffer() const
{
    // A row of one UYVY pel has no V byte, hence no colour: the kernel
    // leaves it unwritten, and the planes take its grey.
    if (bytes() == 2 && hasFrame())
        return planesFromGrey(grey8Buffer());
    return kernelPlanes(pels(), colour_);
}

cc_UYYVYYAcqImage::cc_UYYVYYAcqImage(const ccPelBuffer<unsigned char>& frame)
    : cc_YCbCrAcqImage(7, frame, 6, 4, &cip_convertUYYVYYToGreyscaleTyped, &cip_convertUYYVYYToRGBTyped)
{
}

cc_UYVYAcqImage::cc_UYVYAcqImage(const ccPelBuffer<unsigned char>& frame)
    : cc_YCbCrAcqImage(8, frame, 2, 1, &cip_convertUYVYToGreyscaleTyped, &cip_convertUYVYToRGBTyped)
{
}

cc_UYVAcqImage::cc_UYVAcqImage(const ccPelBuffer<unsigned char>& frame)
    : cc_YCbCrAcqImage(9, frame, 3, 1, &cip_convertUYVToGreyscaleTyped, &cip_convertUYVToRGBTyped)
{
}

// ---- packed 24-bit ----

ccPelBuffer<unsigned char> cc_Packed24AcqImage::grey8Buffer() const
{
    if (!convertible(*this))
        return {};
    return greyFromPlanes(planeBuffer());
}

cc3PlanePelBuffer cc_Packed24AcqImage::planeBuffer() const
{
    return kernelPlanes(bytes() / 3, blueFirst_ ? &bgrPlanes : &cip_convertPacked24ToPlanesTyped);
}

// ---- 48-bit colour ----

template <class T, class F>
ccPelBuffer<T> cc_RGB48AcqImage::convert(F pel) const
{
    const int64_t width = bytes() / 6;
    return fillRows<T>(frame_, width, [&](const unsigned char* in, T* out) {
        for (int64_t x = 0; x < width; ++x, in += 6) {
            const double sum = kRedWeight * (in[0] | in[1] << 8) + kGreenWeight * (in[2] | in[3] << 8) +
                               kBlueWeight * (in[4] | in[5] << 8);
            // The weights' binary sum falls just short of 1, which would take
            // a level off neutral pels; true sums are multiples of 0.001, so
            // the guard never crosses a real boundary.
            out[x] = static_cast<T>(pel(static_cast<uint32_t>(sum + 1e-6)));
        }
    });
}

ccPelBuffer<unsigned char> cc_RGB48AcqImage::grey8Buffer() const
{
    if (!convertible(*this))
        return {};
    return convert<unsigned char>([](uint32_t v) { return v >> 8; });
}

ccPelBuffer<unsigned short> cc_RGB48AcqImage::grey16Buffer() const
{
    if (!convertible(*this))
        return {};
    return convert<unsigned short>([](uint32_t v) { return v; });
}

cc3PlanePelBuffer cc_RGB48AcqImage::planeBuffer() const
{
    if (!convertible(*this))
        return {};
    const int64_t width = bytes() / 6;
    const auto split = [width](const unsigned char* in, unsigned char* r, unsigned char* g, unsigned char* b) {
        for (int64_t x = 0; x < width; ++x, in += 6) {
            r[x] = in[1];
            g[x] = in[3];
            b[x] = in[5];
        }
    };
    return fillPlanes(frame_, width, split);
}
