// 8-bit test images for the kernels: rows stride bytes apart inside guard
// bytes, every byte starting as a fill value. Only the rows' first width bytes
// are addressable under AddressSanitizer, which the kernel tests run under
// (rows start 8-aligned; strides that are multiples of 8 make the fence
// exact), so that a kernel reading or writing one byte outside them fails.
#pragma once
#include <gtest/gtest.h>

#include <vector>

// Without the address sanitizer the header makes poisoning a no-op.
#include <sanitizer/asan_interface.h>

#include "tests/support/fake_heap.h"

namespace kernel_test {

class Image {
public:
    // A stride of 0 is one past the width, rounded up to a multiple of 8.
    Image(int32_t width, int32_t height, int32_t stride = 0, int32_t fill = 0xEE)
        : width(width), height(height), stride(stride ? stride : (width + 8) / 8 * 8), fill(fill),
          words_((size_t(height) * this->stride + 7) / 8 + 16, uint8_t(fill) * 0x0101010101010101u)
    {
        ASAN_POISON_MEMORY_REGION(words_.data(), words_.size() * 8);
        for (int32_t y = 0; y < height; ++y)
            ASAN_UNPOISON_MEMORY_REGION(&at(0, y), width);
    }
    ~Image() { ASAN_UNPOISON_MEMORY_REGION(words_.data(), words_.size() * 8); }
    uint8_t* p() { return reinterpret_cast<uint8_t*>(words_.data() + 8); }
    uint8_t& at(int32_t x, int32_t y) { return p()[ptrdiff_t(y) * stride + x]; }
    template <class F>
    void paint(F f)
    {
        for (int32_t i = 0; i < width * height; ++i)
            at(i % width, i / width) = uint8_t(f(i % width, i / width));
    }

    const int32_t width, height, stride, fill;

private:
    std::vector<uint64_t> words_;
};

// call(source, destination) gives expected and keeps no work memory; with
// heapFails the first allocation is refused. The source is 8 x 2 (stride 8);
// the destination has no addressable byte, so that a write to it fails.
template <class F>
void expectStatus(csysStatus expected, bool heapFails, F call)
{
    Image s(8, 2, 8), d(0, 2, 8);
    fake_heap::FakeHeap heap(heapFails ? 0 : -1);
    EXPECT_EQ(call(s.p(), d.p()), expected);
    EXPECT_TRUE(heap.live.empty());
}

} // namespace kernel_test
