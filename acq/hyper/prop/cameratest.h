// Camera-test settings: a record the driver module interprets. It has no
// setters; a loaded archive changes it and sends it to the board whole.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccCameraTestProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccCameraTestProp";
    // The registry's factory: a detached property with the defaults.
    static ccPersistent* cmCreate();

    ccCameraTestProp() = default;

    // The members in the order the board receives them.
    bool firstMember() const { return first_; }
    int32_t secondMember() const { return second_; }
    uint8_t thirdMember() const { return third_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then the members: a byte, 32
    // bits, a byte. Loading stores them and, when attached, hands the whole
    // property to the implementation once; should it refuse, the members
    // it held before come back.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    bool first_ = false;
    int32_t second_ = 0;
    uint8_t third_ = 0;
    cc_AcqFifo* fifo_ = nullptr;
};
