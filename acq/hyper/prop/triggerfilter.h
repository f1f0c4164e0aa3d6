// Conditioning of a FIFO's trigger input: minimum pulse width and period, a
// delay, and whether a missed trigger is ignored. Handed to the
// implementation as a whole.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccTriggerFilterProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009ADu, "class ccTriggerFilterProp::BadParams");

    static constexpr const char* kStoredName = "class ccTriggerFilterProp";
    static constexpr uint8_t kVersion = 1;
    static ccPersistent* cmCreate();

    // Bounds in seconds; the board counts in microseconds, with a little
    // slack above and below.
    static constexpr double kMinWidthLowest = 1e-6 * 2.999;
    static constexpr double kMinWidthHighest = 1e-6 * 258.001;
    static constexpr double kMinPeriodHighest = 1e-6 * 65537.001;
    // The delay's bound when the implementation gives none.
    static constexpr double kDelayHighest = 1e-6 * 65535.001;

    ccTriggerFilterProp() = default;

    // Each value outside its bounds (or NaN) is BadParams. Attached, the
    // implementation reads every field from this object, and its refusal
    // puts the old value back.
    void minTriggerWidth(double seconds);
    void minTriggerPeriod(double seconds);
    // Bounded by the implementation's own maximum when it has one.
    void triggerDelay(double seconds);
    void ignoreMissedTrigger(bool ignore);
    double minTriggerWidth() const { return fields_.width; }
    double minTriggerPeriod() const { return fields_.period; }
    double triggerDelay() const { return fields_.delay; }
    bool ignoreMissedTrigger() const { return fields_.ignoreMissed; }

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, then ignore missed trigger (bool
    // byte), width, period and delay (doubles); version 0 lacks the flag,
    // which then loads as true. Loaded values skip the bounds, which may have
    // been wider on the board they came from, but not NaN; the whole record
    // is handed over once.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    struct Fields {
        double width = 5e-6;
        double period = 0.0;
        double delay = 0.0;
        bool ignoreMissed = true;
    };
    void set(const Fields& fields);

    Fields fields_;
    cc_AcqFifo* fifo_ = nullptr;
};
