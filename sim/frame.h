// Simulated frames, the results that hand them to the library and the
// information objects of acquisitions.
#pragma once
#include "sim/simstate.h"

#include <atomic>
#include <cstddef>
#include <memory>

namespace sim {

// The pels of one acquisition, in memory of its own or in an image lent by
// the library's pool. Destroy it outside the state's lock: it may release
// the pool image.
struct Frame {
    Frame() = default;
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    ~Frame();

    int32_t code = 0;
    uint32_t width = 0, height = 0;
    uint32_t bytesPerPel = 1, planes = 1;
    bool rawBytes = false;   // stride and width reported in bytes
    size_t stride = 0;       // bytes from one row to the next
    size_t planeBytes = 0;   // bytes from one plane to the next
    uint8_t* base = nullptr; // plane 0
    void* memory = nullptr;
    ccIUnknown* image = nullptr;
    // The module buffers its FIFO holds; this frame counts in it while it lives.
    std::shared_ptr<std::atomic<uint32_t>> buffers;
};

// The frame of ticket for a FIFO of code, from pool (may be null) for grey 8;
// null when none could be made (the delivery is then an overrun). Its pel
// (0, 0) is pel (x, y) of the full frame.
std::unique_ptr<Frame> makeFrame(int32_t code, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                                 uint32_t ticket, ccIUnknown* pool);
// Whether FIFOs of code can be made.
bool knownCode(int32_t code);

// A result holding frame (null: an overrun), as its interface 51.
ccIUnknown* newResult(int32_t code, std::unique_ptr<Frame> frame);
// The information of one acquisition (failure: its ccSimFailure word, 0 when
// it succeeded), as its interface 32.
ccIUnknown* newInfo(uint32_t failure, uint32_t ticket, uint32_t number);

} // namespace sim
