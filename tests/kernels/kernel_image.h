// 8-bit test images for the kernels: rows stride bytes apart inside guard
// bytes, every byte starting as a fill value. While fenced, only the rows'
// first width bytes are addressable under AddressSanitizer (rows start
// 8-aligned; strides that are multiples of 8 make the fence exact).
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

// Without the address sanitizer the header makes poisoning a no-op.
#include <sanitizer/asan_interface.h>

#include "tests/support/fake_heap.h"

namespace kernel_test {

class Image {
public:
    // A stride past the width, a multiple of 8.
    static int32_t padded(int32_t width) { return (width + 8) / 8 * 8; }
    // A stride of 0 is padded(width).
    Image(int32_t width, int32_t height, int32_t stride = 0, uint8_t fill = 0xEE)
        : width(width), height(height), stride(stride ? stride : padded(width)), fill(fill),
          bytes_(size_t(height) * this->stride + 136, fill)
    {
    }
    uint8_t* p() { return bytes_.data() + 64 + (8 - reinterpret_cast<uintptr_t>(bytes_.data() + 64) % 8) % 8; }
    uint8_t& at(int32_t x, int32_t y) { return p()[ptrdiff_t(y) * stride + x]; }
    std::vector<int> row(int32_t y) { return std::vector<int>(&at(0, y), &at(0, y) + width); }
    // Every pel of the rows from f(x, y).
    template <class F>
    Image& paint(F f)
    {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                at(x, y) = uint8_t(f(x, y));
        return *this;
    }
    // Guards and the bytes between width and stride still hold the fill.
    bool outsideIntact()
    {
        for (size_t i = 0; i < bytes_.size(); ++i) {
            const ptrdiff_t at = bytes_.data() + i - p();
            if (!(at >= 0 && at < ptrdiff_t(height) * stride && at % stride < width) && bytes_[i] != fill)
                return false;
        }
        return true;
    }
    void fence(bool on)
    {
        ASAN_UNPOISON_MEMORY_REGION(bytes_.data(), bytes_.size());
        if (on)
            ASAN_POISON_MEMORY_REGION(bytes_.data(), bytes_.size());
        for (int32_t y = 0; on && y < height; ++y)
            ASAN_UNPOISON_MEMORY_REGION(&at(0, y), width);
    }

    int32_t width, height, stride;
    uint8_t fill;

private:
    std::vector<uint8_t> bytes_;
};

// The call with only the images' rows addressable.
template <class F>
auto fenced(std::initializer_list<Image*> images, F call)
{
    for (Image* image : images)
        image->fence(true);
    auto result = call();
    for (Image* image : images)
        image->fence(false);
    return result;
}

// The call's status, with no work memory kept after it. With heapFails the
// first allocation is refused.
template <class F>
void expectStatus(csysStatus expected, bool heapFails, F call)
{
    fake_heap::FakeHeap heap(heapFails ? 0 : -1);
    EXPECT_EQ(call(), expected);
    EXPECT_TRUE(heap.live.empty());
}

} // namespace kernel_test
