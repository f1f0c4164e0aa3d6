// The line-scan properties of a FIFO: the first pel of each line the board
// delivers, the encoder counter, and the motion encoder that paces the lines.
// Each keeps what the client set, passes it to the attached implementation
// and archives it.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccFirstPelOffsetProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009A5u, "class ccFirstPelOffsetProp::BadParams");

    static constexpr const char* kStoredName = "class ccFirstPelOffsetProp";
    static constexpr uint8_t kVersion = 0;
    // The registry's factory: a detached property with offset 0.
    static ccPersistent* cmCreate();

    ccFirstPelOffsetProp() = default;

    // 0..127, else BadParams.
    void firstPelOffset(int8_t offset);
    int8_t firstPelOffset() const { return offset_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, the offset as one signed byte.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    int8_t offset_ = 0;
    cc_AcqFifo* fifo_ = nullptr;
};

class ccEncoderControlProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccEncoderControlProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccEncoderControlProp() = default;

    void resetCounterOnHardwareTrigger(bool reset);
    bool resetCounterOnHardwareTrigger() const { return resetOnTrigger_; }
    // Detached, there is no counter: the reset does nothing and the count is 0.
    void resetCounter();
    uint32_t currentEncoderCount() const;

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, the flag as a bool byte.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    bool resetOnTrigger_ = false;
    cc_AcqFifo* fifo_ = nullptr;
};

class ccEncoderProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009A6u, "class ccEncoderProp::BadParams");
    cmDeclareException(NoFrameGrabber, ccException, 0x100009A7u, "class ccEncoderProp::NoFrameGrabber");

    static constexpr const char* kStoredName = "class ccEncoderProp";
    static constexpr uint8_t kVersion = 5;
    static ccPersistent* cmCreate();

    ccEncoderProp() = default;

    void testEncoderEnabled(bool enabled);
    bool testEncoderEnabled() const { return testEnabled_; }
    void testEncoderDirectionPositive(bool positive);
    bool testEncoderDirectionPositive() const { return testPositive_; }

    // The two trigger sources go to the implementation together; the
    // combined flag is set when either is.
    void triggerFromEncoder(bool first, bool second);
    bool triggerFromEncoder() const { return triggerFirst_ || triggerSecond_; }
    bool triggerFromEncoderFirst() const { return triggerFirst_; }
    bool triggerFromEncoderSecond() const { return triggerSecond_; }

    // 1 <= steps <= 4095 and sixteenths <= 15, else BadParams.
    void stepsPerLine(uint32_t steps, uint32_t sixteenths);
    uint32_t stepsPerLine() const { return steps_; }
    uint32_t stepSixteenths() const { return sixteenths_; }

    // Not negative and, when the attached implementation counts its ports
    // (a count of 0 does not), below that count; else BadParams.
    void encoderPort(int32_t port);
    int32_t encoderPort() const { return port_; }
    // The implementation's count; NoFrameGrabber while detached.
    uint32_t numEncoderPorts() const;

    void encoderOffset(int32_t offset);
    int32_t encoderOffset() const { return offset_; }
    void acquireDirectionPositive(bool positive);
    bool acquireDirectionPositive() const { return acquirePositive_; }
    void useSingleChannel(bool single);
    bool useSingleChannel() const { return singleChannel_; }
    void encoderResolution(int32_t resolution);
    int32_t encoderResolution() const { return resolution_; }
    // At most 65535, else BadParams.
    void startAcqOnEncoderCount(uint32_t count);
    uint32_t startAcqOnEncoderCount() const { return startCount_; }
    void ignoreBackwardsMotionBetweenAcquires(bool ignore);
    bool ignoreBackwardsMotionBetweenAcquires() const { return ignoreBackwards_; }
    void ignoreTooFastEncoder(bool ignore);
    bool ignoreTooFastEncoder() const { return ignoreTooFast_; }

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 5, the ccPersistent level, then every field; older
    // versions lack the later fields, which keep their values. Loaded values
    // go through the setters.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    bool testEnabled_ = false;
    bool testPositive_ = true;
    bool triggerFirst_ = false;
    bool triggerSecond_ = false;
    uint32_t steps_ = 3;
    uint32_t sixteenths_ = 0;
    int32_t port_ = 0;
    int32_t offset_ = 0;
    bool acquirePositive_ = true;
    bool singleChannel_ = false;
    int32_t resolution_ = 0;
    uint32_t startCount_ = 0;
    bool ignoreBackwards_ = false;
    bool ignoreTooFast_ = true;
    cc_AcqFifo* fifo_ = nullptr;
};
