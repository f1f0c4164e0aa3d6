// The contrast and brightness of a FIFO: a gain and an offset per channel, as
// fractions from 0 to 1, passed to the attached FIFO implementation.
#pragma once
#include <cstdint>
#include <vector>

#include "std/except/except.h"

class cc_AcqFifo;

class ccContrastBrightnessProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000984u, "class ccContrastBrightnessProp::BadParams");

    static constexpr const char* kStoredName = "class ccContrastBrightnessProp";
    static constexpr uint8_t kVersion = 2;
    static constexpr double kDefault = 0.5;
    // The registry's factory: a detached property with no shape yet.
    static ccPersistent* cmCreate();

    ccContrastBrightnessProp() = default;

    // The channel count; an unshaped property takes one channel first.
    int32_t numChannels();

    // value 0..1 on channel 0..channels-1, or -1 for each channel in turn.
    // Attached, each channel goes to the implementation before it is stored,
    // so a channel the implementation refuses keeps its value.
    void contrast(double value, int32_t channel);
    void brightness(double value, int32_t channel);
    // Contrast on every channel, then brightness on every channel.
    void contrastBrightness(double contrast, double brightness);
    // Both on one channel; a channel at or above the count does nothing.
    void contrastBrightness(double contrast, double brightness, int32_t channel);

    // channel 0..channels-1 (0 while unshaped, which reads the default).
    double contrast(int32_t channel) const;
    double brightness(int32_t channel) const;

    // Shapes the property with the implementation's channel count when it has
    // no shape yet, then sets every channel to the implementation's defaults.
    // A count below 1 for an unshaped property raises BadParams and leaves it
    // detached. Null detaches.
    void attach(cc_AcqFifo* fifo);
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 2, the ccPersistent level, the channel count as a 32-bit
    // word, then contrast and brightness of each channel. Loads of versions
    // 0 and 1 (one pair, two pairs) go through the setters as well.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

protected:
    // Whether the property has its shape, and back to none: the aggregate
    // puts back a load that failed.
    bool shaped() const { return channels_ != 0; }
    void unshape()
    {
        channels_ = 0;
        contrast_.clear();
        brightness_.clear();
    }

private:
    // Only while unshaped; count below 1 raises BadParams.
    void shape(int64_t count);
    void set(std::vector<double>& values, double value, int32_t channel, bool isContrast);
    double get(const std::vector<double>& values, int32_t channel) const;

    int32_t channels_ = 0;
    std::vector<double> contrast_;
    std::vector<double> brightness_;
    cc_AcqFifo* fifo_ = nullptr;
};
