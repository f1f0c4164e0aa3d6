#include "acq/image/acqimage.h"

#include <algorithm>
#include <initializer_list>

#include "acq/image/internal/formats.h"
#include "kernels/cip_add3.h"
#include "std/except/status.h"
#include "std/pelbuf/pelfunc.h"

namespace cc_detail {
namespace acq {

void notSupported(const wchar_t* message) { throw ccAcqImage::NotSupported(message); }

void check(csysStatus status)
{
    if (status < 0)
        ccThrowStatus(status);
}

bool convertible(const cc_AcqImage& image)
{
    if (!image.hasFrame())
        return false;
    if (image.isRemote())
        notSupported();
    return true;
}

NewPlanes::NewPlanes(const ccPelPoint& offset, int64_t width, int64_t height)
{
    for (int i = 0; i < 3; ++i) {
        planes_[i] = newBuffer<unsigned char>(offset, width, height);
        starts_[i] = planes_[i].windowStart();
    }
    // One width and alignment: one stride.
    stride_ = planes_[0].typedRoot().stride();
}

cc3PlanePelBuffer NewPlanes::take() { return cc3PlanePelBuffer(planes_[0], planes_[1], planes_[2]); }

cc3PlanePelBuffer planesFromGrey(const ccPelBuffer<unsigned char>& grey)
{
    const int64_t width = grey.windowRect().width();
    return fillPlanes(grey, width,
                      [width](const unsigned char* in, unsigned char* r, unsigned char* g, unsigned char* b) {
                          for (unsigned char* plane : {r, g, b})
                              std::copy_n(in, width, plane);
                      });
}

ccPelBuffer<unsigned short> widen(const ccPelBuffer<unsigned char>& grey)
{
    const int64_t width = grey.windowRect().width();
    return fillRows<unsigned short>(grey, width, [width](const unsigned char* in, unsigned short* out) {
        std::copy_n(in, width, out);
    });
}

ccPelBuffer<unsigned char> greyFromPlanes(const cc3PlanePelBuffer& planes)
{
    const ccPelRect& w = planes.windowRect();
    ccPelBuffer<unsigned char> out = newBuffer<unsigned char>(planes.windowOffset(), w.width(), w.height());
    out.copyClientXform(planes);
    if (w.width() == 0 || w.height() == 0)
        return out;
    const ccPelBuffer<unsigned char> r = planes.plane(0), g = planes.plane(1), b = planes.plane(2);
    check(cip_pelAdd3Weighted8Kernel(static_cast<int32_t>(w.width()), static_cast<int32_t>(w.height()),
                                     r.windowStart(), r.typedRoot().stride(), g.windowStart(),
                                     g.typedRoot().stride(), b.windowStart(), b.typedRoot().stride(), 2, kRedWeight,
                                     kGreenWeight, kBlueWeight, 0.0, out.windowStart(), out.typedRoot().stride()));
    return out;
}

} // namespace acq
} // namespace cc_detail

using namespace cc_detail::acq;

// ---- cc_AcqImage ----

bool cc_AcqImage::canConvertTo(uint32_t code) const
{
    if (!hasFrame() || code == format())
        return true;
    if (isRemote() || format() == 6)
        return false;
    return code == 1 || code == 2 || code == 3 || code == 4 || code == 12;
}

ccPelBuffer<unsigned short> cc_AcqImage::grey16Buffer() const
{
    if (!convertible(*this))
        return {};
    return widen(grey8Buffer());
}

namespace {

// The image's planes merged into a new buffer of their window.
template <class T, class Merge>
ccPelBuffer<T> merged(const cc_AcqImage& image, Merge merge)
{
    if (!convertible(image))
        return {};
    const cc3PlanePelBuffer planes = image.planeBuffer();
    const ccPelRect& w = planes.windowRect();
    // Of the planes' window: the merge writes it in place.
    ccPelBuffer<T> out = newBuffer<T>(planes.windowOffset(), w.width(), w.height());
    merge(planes.plane(0), planes.plane(1), planes.plane(2), out);
    return out;
}

} // namespace

ccPelBuffer<ccPackedRGB16Pel> cc_AcqImage::rgb16Buffer() const
{
    return merged<ccPackedRGB16Pel>(*this, &ccPelFunc::mergePlanesToPackedRGB16);
}

ccPelBuffer<ccPackedRGB32Pel> cc_AcqImage::rgb32Buffer() const
{
    return merged<ccPackedRGB32Pel>(*this, [](const auto& red, const auto& green, const auto& blue, auto& out) {
        ccPelFunc::mergePlanesToPackedRGB32(red, green, blue, out, 0);
    });
}

uint32_t cc_AcqImage::bitsPerPel(uint32_t code)
{
    switch (code) {
    case 2:
    case 16: return 16;
    case 13:
    case 18: return 10;
    case 14:
    case 19: return 12;
    case 17: return 14;
    default: return 8;
    }
}

bool cc_AcqImage::isColorFormat(uint32_t code)
{
    switch (code) {
    case 1:
    case 2:
    case 13:
    case 14:
    case 17:
    case 18:
    case 19: return false;
    default: return true; // big-endian Grey16 (16) included, as callers have it
    }
}

// ---- ccAcqImage ----

namespace {

cc_AcqImage* makeRaw(const ccPelBuffer<unsigned char>& raw, uint32_t code)
{
    switch (code) {
    case 1: return new cc_Grey8AcqImage(raw);
    case 2: return new cc_Grey16AcqImage(raw);
    case 5: return new cc_Bayer8AcqImage(raw);
    case 6: return new cc_Bayer16AcqImage(raw);
    case 7: return new cc_UYYVYYAcqImage(raw);
    case 8: return new cc_UYVYAcqImage(raw);
    case 9: return new cc_UYVAcqImage(raw);
    case 10: return new cc_RGB24AcqImage(raw);
    case 11: return new cc_RGB48AcqImage(raw);
    case 13: return new cc_Grey10AcqImage(raw);
    case 14: return new cc_Grey12AcqImage(raw);
    case 15: return new cc_BGR24AcqImage(raw);
    case 16: return new cc_Grey16BigEndianAcqImage(raw);
    case 17: return new cc_Grey14AcqImage(raw);
    case 18: return new cc_Grey10PackedAcqImage(raw);
    case 19: return new cc_Grey12PackedAcqImage(raw);
    default: notSupported(); // 3, 4 and 12 need typed buffers
    }
}

} // namespace

ccAcqImage::ccAcqImage() = default;
ccAcqImage::ccAcqImage(const ccPelBuffer<unsigned char>& raw, uint32_t code) : image_(makeRaw(raw, code)) {}
ccAcqImage::ccAcqImage(const ccPelBuffer<ccPackedRGB16Pel>& frame) : image_(new cc_Packed16AcqImage(frame)) {}
ccAcqImage::ccAcqImage(const ccPelBuffer<ccPackedRGB32Pel>& frame) : image_(new cc_Packed32AcqImage(frame)) {}
ccAcqImage::ccAcqImage(const cc3PlanePelBuffer& frame) : image_(new cc_3PlaneAcqImage(frame)) {}
ccAcqImage::~ccAcqImage() { delete image_; }

bool ccAcqImage::isValid() const { return image_ && image_->hasFrame(); }
uint32_t ccAcqImage::format() const { return image_ ? image_->format() : 0; }
bool ccAcqImage::canConvertTo(uint32_t code) const { return image_ && image_->canConvertTo(code); }
cc_PelBuffer* ccAcqImage::rawBuffer() const { return image_ ? image_->rawBuffer() : nullptr; }

ccPelBuffer<unsigned char> ccAcqImage::grey8Buffer() const
{
    return image_ ? image_->grey8Buffer() : ccPelBuffer<unsigned char>();
}

ccPelBuffer<unsigned short> ccAcqImage::grey16Buffer() const
{
    return image_ ? image_->grey16Buffer() : ccPelBuffer<unsigned short>();
}

cc3PlanePelBuffer ccAcqImage::planeBuffer() const { return image_ ? image_->planeBuffer() : cc3PlanePelBuffer(); }

ccPelBuffer<ccPackedRGB16Pel> ccAcqImage::rgb16Buffer() const
{
    return image_ ? image_->rgb16Buffer() : ccPelBuffer<ccPackedRGB16Pel>();
}

ccPelBuffer<ccPackedRGB32Pel> ccAcqImage::rgb32Buffer() const
{
    return image_ ? image_->rgb32Buffer() : ccPelBuffer<ccPackedRGB32Pel>();
}

cc_RawAcqImage::cc_RawAcqImage(uint32_t code, const ccPelBuffer<unsigned char>& frame, int64_t unit)
    : cc_FrameAcqImage(code, frame)
{
    if (bytes() % unit != 0)
        notSupported(L"Invalid Image Width");
}
