// The counting heap for tests that check what the code under test leaves:
// the processor description and its locks, made on first use and kept for
// the process, are made before it is installed.
#pragma once
#include "system/csys_cpu.h"
#include "tests/support/fake_heap.h"

namespace kernel_test {

class WarmHeap : public fake_heap::FakeHeap {
public:
    WarmHeap() : fake_heap::FakeHeap(warm()) {}

private:
    static int warm()
    {
        int32_t cpuClass = 0;
        uint32_t features = 0;
        (void)csys_cpuDispatchInfo(&cpuClass, &features); // only its side effect counts
        return -1;
    }
};

} // namespace kernel_test
