#include "acq/hyper/prop/bright.h"

#include <limits>
#include <new>
#include <typeinfo>
#include <utility>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

namespace {

// Written so that NaN fails it.
bool isFraction(double value) { return value >= 0.0 && value <= 1.0; }

} // namespace

ccPersistent* ccContrastBrightnessProp::cmCreate() { return new (std::nothrow) ccContrastBrightnessProp; }

void ccContrastBrightnessProp::shape(int64_t count)
{
    if (channels_ != 0)
        return;
    if (count < 1 || count > std::numeric_limits<int32_t>::max())
        throw BadParams();
    std::vector<double> contrast(static_cast<size_t>(count), kDefault);
    std::vector<double> brightness(static_cast<size_t>(count), kDefault);
    contrast_.swap(contrast);
    brightness_.swap(brightness);
    channels_ = static_cast<int32_t>(count);
}

int32_t ccContrastBrightnessProp::numChannels()
{
    shape(1);
    return channels_;
}

void ccContrastBrightnessProp::set(std::vector<double>& values, double value, int32_t channel, bool isContrast)
{
    if (!isFraction(value))
        throw BadParams();
    shape(1);
    if (channel < -1 || channel >= channels_)
        throw BadParams();
    const int32_t first = channel < 0 ? 0 : channel;
    const int32_t last = channel < 0 ? channels_ - 1 : channel;
    for (int32_t c = first; c <= last; ++c) {
        // Stored only once the board has it, so that the two never differ.
        if (fifo_) {
            if (isContrast)
                fifo_->contrast(value, c);
            else
                fifo_->brightness(value, c);
        }
        values[static_cast<size_t>(c)] = value;
    }
}

double ccContrastBrightnessProp::get(const std::vector<double>& values, int32_t channel) const
{
    // Unshaped, the property reads as the one channel it would take.
    if (channel < 0 || channel >= (channels_ == 0 ? 1 : channels_))
        throw BadParams();
    return channels_ == 0 ? kDefault : values[static_cast<size_t>(channel)];
}

void ccContrastBrightnessProp::contrast(double value, int32_t channel) { set(contrast_, value, channel, true); }
void ccContrastBrightnessProp::brightness(double value, int32_t channel) { set(brightness_, value, channel, false); }
double ccContrastBrightnessProp::contrast(int32_t channel) const { return get(contrast_, channel); }
double ccContrastBrightnessProp::brightness(int32_t channel) const { return get(brightness_, channel); }

void ccContrastBrightnessProp::contrastBrightness(double contrastValue, double brightnessValue)
{
    if (!isFraction(contrastValue) || !isFraction(brightnessValue))
        throw BadParams();
    contrast(contrastValue, -1);
    brightness(brightnessValue, -1);
}

void ccContrastBrightnessProp::contrastBrightness(double contrastValue, double brightnessValue, int32_t channel)
{
    if (!isFraction(contrastValue) || !isFraction(brightnessValue))
        throw BadParams();
    shape(1);
    if (channel >= channels_)
        return;
    contrast(contrastValue, channel);
    brightness(brightnessValue, channel);
}

void ccContrastBrightnessProp::attach(cc_AcqFifo* fifo)
{
    if (fifo && channels_ == 0)
        shape(fifo->numChannels());
    fifo_ = fifo;
    if (!fifo)
        return;
    contrast(fifo->contrastDefault(), -1);
    brightness(fifo->brightnessDefault(), -1);
}

void ccContrastBrightnessProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccContrastBrightnessProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/bright", __LINE__);
    ccPersistent::archive(ar);
    if (ar.isStoring()) {
        shape(1);
        uint32_t count = static_cast<uint32_t>(channels_);
        ar.archive(count);
        for (size_t c = 0; c < contrast_.size(); ++c)
            ar.archive(contrast_[c]).archive(brightness_[c]);
    } else if (version >= 2) {
        uint32_t word = 0;
        ar.archive(word);
        const int32_t count = static_cast<int32_t>(word);
        if (count < 1 || (channels_ != 0 && count != channels_))
            throw BadParams();
        // The pairs are read before the arrays are shaped, so that a damaged
        // count runs into the end of the archive instead of allocating.
        std::vector<std::pair<double, double>> pairs;
        for (int32_t c = 0; c < count; ++c) {
            std::pair<double, double> pair;
            ar.archive(pair.first).archive(pair.second);
            pairs.push_back(pair);
        }
        shape(count);
        for (int32_t c = 0; c < count; ++c)
            contrastBrightness(pairs[static_cast<size_t>(c)].first, pairs[static_cast<size_t>(c)].second, c);
    } else if (version == 1) {
        double contrast0 = 0, brightness0 = 0, contrast1 = 0, brightness1 = 0;
        ar.archive(contrast0).archive(brightness0).archive(contrast1).archive(brightness1);
        shape(contrast0 == contrast1 && brightness0 == brightness1 ? 1 : 2);
        // A second pair beyond the property's channels is dropped.
        contrastBrightness(contrast0, brightness0, 0);
        contrastBrightness(contrast1, brightness1, 1);
    } else {
        double contrastValue = 0, brightnessValue = 0;
        ar.archive(contrastValue).archive(brightnessValue);
        contrastBrightness(contrastValue, brightnessValue);
    }
    ccArchiveVisit::end(this, typeid(ccContrastBrightnessProp));
}
