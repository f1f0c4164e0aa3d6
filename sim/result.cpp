// Frames of each module pel format, the result objects that lend them to the
// library, and the information objects of acquisitions.
#include "sim/frame.h"

#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

struct Layout {
    int32_t code, kind;
    uint32_t bytesPerPel, planes;
    bool rawBytes;
};
constexpr Layout kLayouts[] = {
    {0, 1, 1, 1, false}, // grey 8
    {9, 1, 2, 1, true},  // grey 16
    {1, 1, 4, 1, false}, // packed RGB32
    {8, 1, 2, 1, false}, // packed RGB16
    {2, 3, 1, 3, false}, // three planes
};
constexpr size_t kAlign = 64;
constexpr uint64_t kMostBytes = uint64_t{1} << 31;

const Layout* layoutOf(int32_t code) {
    for (const Layout& l : kLayouts)
        if (l.code == code) return &l;
    return nullptr;
}

size_t roundUp(uint64_t bytes) { return static_cast<size_t>((bytes + kAlign - 1) / kAlign * kAlign); }

// The pels of the full frame from (ox, oy) on.
void fill(Frame& f, uint32_t ticket, uint32_t ox, uint32_t oy) {
    if (f.code == 0 || f.code == 2) {
        // 8-bit planes: one add per pel, so that the delivery the benchmark
        // compares with is not the pel arithmetic.
        for (uint32_t p = 0; p < f.planes; ++p)
            for (uint32_t y = 0; y < f.height; ++y) {
                uint8_t* row = f.base + p * f.planeBytes + y * f.stride;
                const uint8_t start = ccSimPel(ox, oy + y, ticket, p);
                for (uint32_t x = 0; x < f.width; ++x)
                    row[x] = static_cast<uint8_t>(start + x);
            }
        return;
    }
    for (uint32_t p = 0; p < f.planes; ++p)
        for (uint32_t y = 0; y < f.height; ++y) {
            uint8_t* row = f.base + p * f.planeBytes + y * f.stride;
            for (uint32_t x = 0; x < f.width; ++x) {
                const uint32_t c0 = ccSimPel(ox + x, oy + y, ticket, p), c1 = ccSimPel(ox + x, oy + y, ticket, 1),
                               c2 = ccSimPel(ox + x, oy + y, ticket, 2);
                uint16_t word;
                uint32_t pel;
                switch (f.code) {
                case 9:
                    word = static_cast<uint16_t>(257 * c0);
                    std::memcpy(row + 2 * x, &word, 2);
                    break;
                case 8:
                    word = static_cast<uint16_t>((c0 >> 3) << 11 | (c1 >> 2) << 5 | c2 >> 3);
                    std::memcpy(row + 2 * x, &word, 2);
                    break;
                case 1:
                    pel = c0 | c1 << 8 | c2 << 16;
                    std::memcpy(row + 4 * x, &pel, 4);
                    break;
                default: row[x] = static_cast<uint8_t>(c0);
                }
            }
        }
}

// Grey 8 pels in an image of the library's pool; false when it gave none
// fit for them.
bool fromPool(Frame& f, ccIUnknown* pool) {
    ccIUnknown* allocator = nullptr;
    if (pool->query(&allocator, ccIidPelPoolV0) != 0 || !allocator) return false;
    ccIUnknown* image = nullptr;
    const int32_t status = static_cast<ccIPelPool_Core_v0*>(allocator)->allocate(
        &image, static_cast<int32_t>(f.width), static_cast<int32_t>(f.height), 0, nullptr, 1.0, 0);
    allocator->release();
    if (status != 0 || !image) {
        if (image) image->release();
        return false;
    }
    image->query(&f.image, ccIidPoolImageV1); // kept by the frame; status ignored: null says it all
    image->release();
    if (!f.image) return false;
    auto* lent = static_cast<ccIImage_PoolImage_v1*>(f.image);
    void* address = nullptr;
    int32_t stride = 0;
    if (lent->address(&address) != 0 || lent->stride(&stride) != 0 || !address || stride < 0 ||
        static_cast<uint32_t>(stride) < f.width)
        return false;
    f.base = static_cast<uint8_t*>(address);
    f.stride = static_cast<size_t>(stride);
    return true;
}

// Geometry slots 3 and 7 to 15 of 25 and 26, each face counted under its id.
template <int32_t Id, class Base>
class Geometry : public Base {
public:
    int32_t windowOffset(int32_t* x, int32_t* y) override { return put(3, x, y); }
    int32_t reserved4() override { return put(4); }
    int32_t reserved5() override { return put(5); }
    int32_t reserved6() override { return put(6); }
    int32_t stride(int32_t* stride) override { return put(7, stride); }
    int32_t height(int32_t* height) override { return put(8, height); }
    int32_t width(int32_t* width) override { return put(9, width); }
    int32_t window(int32_t* x, int32_t* y, int32_t* width, int32_t* height) override {
        return put(10, x, y, width, height);
    }
    int32_t translation(double* x, double* y) override { return put(11, x, y); }
    int32_t matrix(double* a, double* b, double* c, double* d) override { return put(12, a, b, c, d); }
    int32_t offsetPresent(uint32_t* flag) override { return put(13, flag); }
    int32_t transformPresent(uint32_t* flag) override { return put(14, flag); }
    int32_t framePresent(uint32_t* flag) override { return put(15, flag); }

protected:
    ~Geometry() = default;
    // Out values of slot as the frame has them.
    virtual Values geometry(int32_t slot) const = 0;
    template <class... P>
    int32_t put(int32_t slot, P*... outs) {
        return reports(Id, slot, {}, geometry(slot), outs...);
    }
};

class ImageFace : public Geometry<ccIidResultImage, ccIAcqResult_Image> {
public:
    int32_t isRemote(uint32_t* flag) override { return put(16, flag); }

protected:
    ~ImageFace() = default;
};

class RawFace : public Geometry<ccIidResultRawPels, ccIAcqResult_RawPels> {
public:
    int32_t reserved16() override { return put(16); }
    int32_t pelAddress(void** address) override {
        if (enter(ccIidResultRawPels, 17)) return failed(address);
        if (!address) return refuse();
        *address = plane(0);
        return 0;
    }

protected:
    ~RawFace() = default;
    virtual void* plane(uint32_t index) const = 0;
};

class Result final : public Impl<ccIAcqResult_Format, ImageFace, RawFace, ccIAcqResult_FastTransfer> {
public:
    Result(const Layout& layout, std::unique_ptr<Frame> frame)
        : Impl(ccIidResultFormat), layout_(layout), frame_(std::move(frame)) {}

    int32_t kind(int32_t* kind) override { return reports(ccIidResultFormat, 3, {}, {double(layout_.kind)}, kind); }
    int32_t planeAddress(uint32_t plane, void** address) override {
        if (enter(ccIidResultFormat, 4, {double(plane)})) return failed(address);
        if (!address || plane >= layout_.planes) return refuse();
        *address = this->plane(plane);
        return 0;
    }
    int32_t pelFormat(int32_t* code) override {
        return reports(ccIidResultFormat, 5, {}, {double(layout_.code)}, code);
    }

    int32_t transfer(void* destination, int32_t stride, int32_t alignment, int32_t left, int32_t top, int32_t width,
                     int32_t height, uint32_t flag) override {
        if (enter(ccIidResultFastTransfer, 3,
                  {double(destination != nullptr), double(stride), double(alignment), double(left), double(top),
                   double(width), double(height), double(flag)}))
            return 1;
        if (!frame_) return refuse();
        const Frame& f = *frame_;
        // The destination's stride counts its pels, which are the frame's.
        const int64_t rowBytes = int64_t{width} * f.bytesPerPel;
        const int64_t strideBytes = int64_t{stride} * f.bytesPerPel;
        if (left < 0 || top < 0 || width < 0 || height < 0 || int64_t{left} + width > f.width ||
            int64_t{top} + height > f.height || strideBytes < rowBytes || (!destination && rowBytes && height))
            return refuse();
        for (int32_t y = 0; rowBytes && y < height; ++y)
            std::memcpy(static_cast<uint8_t*>(destination) + int64_t{y} * strideBytes,
                        f.base + size_t(top + y) * f.stride + size_t(left) * f.bytesPerPel, size_t(rowBytes));
        return 0;
    }

private:
    Values geometry(int32_t slot) const override {
        if (!frame_) return {};
        const Frame& f = *frame_;
        const double pels = f.rawBytes ? 1 : f.bytesPerPel, bytes = f.rawBytes ? f.bytesPerPel : 1;
        switch (slot) {
        case 7: return {double(f.stride) / pels};
        case 8: return {double(f.height)};
        case 9: return {double(f.width) * bytes};
        case 10: return {0, 0, double(f.width), double(f.height)};
        case 15: return {1};
        default: return {};
        }
    }
    void* plane(uint32_t index) const override {
        return frame_ ? frame_->base + index * frame_->planeBytes : nullptr;
    }
    ccIUnknown* offer(int32_t id) override {
        if (id == ccIidResultFastTransfer && !frame_) return nullptr;
        return selfAs(id, {ccIidResultFormat, ccIidResultImage, ccIidResultRawPels, ccIidResultFastTransfer});
    }
    void ended() override {
        if (!frame_) return;
        frame_.reset();
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        --s.liveFrames;
    }

    const Layout layout_;
    std::unique_ptr<Frame> frame_;
};

class AcqInfo final : public Impl<ccIAcqInfo_Core, ccIAcqInfo_Message, ccIAcqInfo_Extra> {
public:
    AcqInfo(uint32_t failure, uint32_t ticket, uint32_t number)
        : Impl(ccIidInfoCore), failure_(failure), ticket_(ticket), number_(number) {}

    int32_t words(uint32_t* third, uint32_t* fourth) override {
        return reports(ccIidInfoCore, 3, {}, {double(failure_)}, third, fourth);
    }
    int32_t ticket(uint32_t* ticket) override { return reports(ccIidInfoCore, 4, {}, {double(ticket_)}, ticket); }
    int32_t triggerNumber(uint32_t* number) override {
        return reports(ccIidInfoCore, 5, {}, {double(number_)}, number);
    }
    int32_t message(uint32_t* length, char16_t* buffer) override {
        if (enter(ccIidInfoMessage, 3)) return 1;
        return length ? writeText(textOf(ccIidInfoMessage, 3), length, buffer) : refuse();
    }
    int32_t extra(uint64_t* value) override { return answers(ccIidInfoExtra, 3, {}, value); }

private:
    ccIUnknown* offer(int32_t id) override { return selfAs(id, {ccIidInfoCore, ccIidInfoMessage, ccIidInfoExtra}); }

    const uint32_t failure_, ticket_, number_;
};

} // namespace

Frame::~Frame() {
    std::free(memory);
    if (image) image->release();
    if (buffers) --*buffers;
}

bool knownCode(int32_t code) { return layoutOf(code) != nullptr; }

std::unique_ptr<Frame> makeFrame(int32_t code, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                                 uint32_t ticket, ccIUnknown* pool) {
    const Layout* layout = layoutOf(code);
    if (!layout) return nullptr;
    auto f = std::make_unique<Frame>();
    f->code = code;
    f->width = width;
    f->height = height;
    f->bytesPerPel = layout->bytesPerPel;
    f->planes = layout->planes;
    f->rawBytes = layout->rawBytes;
    if (pool && code == 0) {
        if (!fromPool(*f, pool)) return nullptr;
    } else {
        f->stride = roundUp(uint64_t{width} * layout->bytesPerPel);
        const uint64_t bytes = uint64_t{f->stride} * height * layout->planes;
        if (bytes > kMostBytes) return nullptr;
        f->planeBytes = f->stride * height;
        f->memory = std::aligned_alloc(kAlign, roundUp(bytes) ? roundUp(bytes) : kAlign);
        if (!f->memory) return nullptr;
        f->base = static_cast<uint8_t*>(f->memory);
    }
    fill(*f, ticket, x, y);
    return f;
}

ccIUnknown* newResult(int32_t code, std::unique_ptr<Frame> frame) {
    const Layout* layout = layoutOf(code);
    if (frame) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.liveFrames;
    }
    return hand<ccIAcqResult_Format, Result>(*layout, std::move(frame));
}

ccIUnknown* newInfo(uint32_t failure, uint32_t ticket, uint32_t number) {
    return hand<ccIAcqInfo_Core, AcqInfo>(failure, ticket, number);
}

} // namespace sim
