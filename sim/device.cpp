// Imaging devices of the board list and the features every device knows.
#include "sim/simstate.h"

#include <algorithm>

namespace sim {
namespace {

class Plain : public ccIUnknown {
protected:
    ~Plain() = default;
};

// Runs f on the feature of that name under the state's lock; false when
// there is none.
template <class F>
bool withFeature(const char16_t* name, F f) {
    if (!name) return false;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = std::find_if(s.features.begin(), s.features.end(), [&](const Feature& x) { return x.name == name; });
    if (it == s.features.end()) return false;
    f(*it);
    return true;
}

// Text into a buffer of ccFeatureUnits: filled up to its last unit, with no
// 0 when the text takes them all.
int32_t writeItem(const std::u16string& text, char16_t* buffer) {
    uint32_t capacity = ccFeatureUnits;
    return writeText(text, &capacity, buffer);
}

class GrabberFeatures final : public Impl<ccIGrabber_Features> {
public:
    GrabberFeatures() : Impl(ccIidGrabberFeatures) {}

    int32_t nameAt(const char16_t* name, uint32_t index, char16_t* buffer) override {
        if (enterText(ccIidGrabberFeatures, 3, name, {double(index)})) return 1;
        std::u16string found;
        bool listed = false;
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            for (const Feature& f : s.features) {
                if (!name || f.parent != name || index-- != 0) continue;
                found = f.name;
                listed = true;
                break;
            }
        }
        return listed && buffer ? writeItem(found, buffer) : refuse();
    }
    int32_t kind(const char16_t* name, int32_t* kind) override {
        if (enterText(ccIidGrabberFeatures, 4, name)) return failed(kind);
        int32_t known = 0;
        if (!withFeature(name, [&](const Feature& f) { known = f.kind; })) return refuse();
        return give(ccIidGrabberFeatures, 4, {double(known)}, kind);
    }
    int32_t choiceAt(const char16_t* name, uint32_t index, char16_t* buffer) override {
        return item(5, name, index, buffer, &Feature::choices);
    }
    int32_t entry(const char16_t* name, uint32_t index, char16_t* buffer) override {
        return item(6, name, index, buffer, &Feature::entries);
    }

private:
    static int32_t item(int32_t slot, const char16_t* name, uint32_t index, char16_t* buffer,
                        std::vector<std::u16string> Feature::*list) {
        if (enterText(ccIidGrabberFeatures, slot, name, {double(index)})) return 1;
        std::u16string found;
        bool listed = false;
        withFeature(name, [&](const Feature& f) {
            if ((listed = index < (f.*list).size())) found = (f.*list)[index];
        });
        return listed && buffer ? writeItem(found, buffer) : refuse();
    }
    ccIUnknown* offer(int32_t id) override {
        return id == ccIidGrabberFeatures ? self<ccIGrabber_Features>() : nullptr;
    }
};

// One object answers the device's kind and every id its class holds.
class DeviceObject final : public Impl<Plain, ccIDevice_Features, ccIDcam_Camera, ccIDcam_Identity> {
public:
    explicit DeviceObject(Device d) : Impl(d.kind), device_(std::move(d)) {}

    int32_t execute(const char16_t* name) override {
        if (enterText(ccIidDeviceFeatures, 3, name)) return 1;
        return withFeature(name, [](const Feature&) {}) ? 0 : refuse();
    }
    int32_t value(const char16_t* name, uint32_t* length, char16_t* buffer) override {
        if (enterText(ccIidDeviceFeatures, 4, name, {length ? double(*length) : 0})) return 1;
        std::u16string text;
        if (!length || !buffer || !withFeature(name, [&](const Feature& f) { text = f.value; })) return refuse();
        return writeText(text, length, buffer);
    }
    int32_t setValue(const char16_t* name, const char16_t* value) override {
        if (enterText(ccIidDeviceFeatures, 5, name)) return 1;
        if (!value) return refuse();
        const std::u16string text(value);
        return withFeature(name, [&](Feature& f) { f.value = text; }) ? 0 : refuse();
    }

    int32_t sortValue(uint32_t* value) override {
        return reports(ccIidDcamCamera, 3, {}, {double(device_.sortValue)}, value);
    }
    int32_t reserved3() override { return enter(ccIidDcamIdentity, 3) ? 1 : 0; }
    int32_t identity(uint32_t* length, char16_t* buffer) override {
        if (enter(ccIidDcamIdentity, 4, {double(buffer != nullptr)})) return failed(length);
        return length ? writeText(device_.identity, length, buffer) : refuse();
    }

private:
    ccIUnknown* offer(int32_t id) override {
        const int32_t kind = device_.kind;
        if (id == kind) return kind == ccIidDcamCamera ? self<ccIDcam_Camera>() : self<Plain>();
        if (id == ccIidGrabberCore) return newCore(device_.serial);
        if (kind == ccIidDcamCamera) {
            if (id == ccIidDcamIdentity) return self<ccIDcam_Identity>();
            const int32_t held[] = {ccIidDcamHeldA, ccIidDcamHeldB, ccIidDcamHeldC, ccIidDcamHeldD};
            return std::count(std::begin(held), std::end(held), id) ? self<Plain>() : nullptr;
        }
        if (id == ccIidDeviceFeatures) return self<ccIDevice_Features>();
        if (kind == ccIidGigECamera && (id == ccIidGigEHeldA || id == ccIidGigEHeldB)) return self<Plain>();
        return nullptr;
    }

    const Device device_;
};

} // namespace

ccIUnknown* newGrabberFeatures() { return hand<ccIGrabber_Features, GrabberFeatures>(); }

ccIUnknown* newDevice(uint32_t board) {
    Device device{};
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = std::find_if(s.devices.begin(), s.devices.end(), [&](const Device& d) { return d.board == board; });
        if (it == s.devices.end()) return nullptr;
        device = *it;
    }
    return hand<Plain, DeviceObject>(std::move(device));
}

} // namespace sim
