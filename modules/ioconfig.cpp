#include "modules/ioconfig.h"

#include <typeinfo>

#include "modules/parallel_io.h"

namespace {

constexpr uint32_t lines(uint32_t first, uint32_t last)
{
    return ((2u << last) - 1) & ~((1u << first) - 1);
}
constexpr uint32_t line(uint32_t n) { return 1u << n; }

// Made on first use and never destroyed, so that a late caller at exit still
// finds them.
template <class T>
const ccIOConfig* staticObject()
{
    static const T* const object = new T;
    return object;
}

// 2 for config of exactly class T, 1 for a class derived from T.
template <class T>
int matches(const ccIOConfig& config)
{
    if (typeid(config) == typeid(T))
        return 2;
    return dynamic_cast<const T*>(&config) != nullptr ? 1 : 0;
}

struct Row {
    int32_t code;
    bool specified; // false: every question throws Unspecified
    uint32_t inputs, outputs; // bit n permits line n
    uint32_t numInputs, numOutputs;
    const ccIOConfig* (*object)();
    int (*match)(const ccIOConfig&);
};

template <class T>
constexpr Row row(uint32_t inputs, uint32_t outputs, uint32_t numInputs, uint32_t numOutputs)
{
    return {T::kCode, true, inputs, outputs, numInputs, numOutputs, &staticObject<T>, &matches<T>};
}

constexpr uint32_t kExternalInputs = lines(0, 3) | line(8) | line(10) | line(12) | line(14);
constexpr uint32_t kExternalOutputs = lines(4, 7) | line(9) | line(11) | line(13) | line(15);
constexpr uint32_t kSplitInputs = lines(0, 8) | line(10) | line(12) | line(14);
constexpr uint32_t kEvenFrom8 = line(8) | line(10) | line(12) | line(14);
constexpr uint32_t kOddFrom9 = line(9) | line(11) | line(13) | line(15);

// In code order, which is the order of the reverse look-up's fallback.
const Row kRows[] = {
    row<ccIO7360LVDS>(lines(0, 7), lines(0, 7), 8, 8),
    row<ccIO7360TTL>(lines(0, 7), lines(0, 7), 8, 8),
    row<ccIO7360DualLVDS>(lines(2, 7), lines(2, 7), 6, 6),
    row<ccIOStandardOption>(lines(0, 15), lines(0, 19), 16, 20),
    {ccIOLightControl7310::kCode, false, 0, 0, 0, 0, &staticObject<ccIOLightControl7310>,
     &matches<ccIOLightControl7310>},
    row<ccIOLightControlOption>(lines(0, 7), lines(12, 19), 8, 8),
    row<ccIOExternalOption>(lines(0, 7), lines(0, 19), 8, 20),
    row<ccIO7310>(0, line(0), 0, 1),
    row<ccIOSingleChannel7310d>(lines(0, 7), lines(0, 7), 8, 8),
    row<ccIOSingleChannelExternal7310d>(lines(0, 1), lines(2, 7), 2, 6),
    row<ccIOMultiChannel7310d>(lines(0, 11), lines(0, 11), 12, 12),
    row<ccIOMultiChannelExternal7310d>(lines(0, 1) | lines(10, 11), lines(2, 9), 4, 8),
    row<ccIO7312>(lines(0, 3), lines(0, 3), 4, 4),
    row<ccIO7351>(lines(0, 15), lines(0, 15), 16, 16),
    row<ccIO7354>(lines(0, 15), lines(0, 15), 16, 16),
    row<ccIOExternal7351>(kExternalInputs, kExternalOutputs, 8, 8),
    row<ccIOExternal7354>(kExternalInputs, kExternalOutputs, 8, 8),
    row<ccIOSplit7351>(kSplitInputs, lines(4, 15), 12, 12),
    row<ccIOSplit7354>(kSplitInputs, lines(4, 15), 12, 12),
    row<ccIO7350l>(lines(8, 15), lines(8, 15), 8, 8),
    row<ccIOExternal7350l>(kEvenFrom8, kOddFrom9, 4, 4),
    row<ccIOSplit7350l>(kEvenFrom8, lines(8, 15), 4, 8),
};

const Row* rowOf(int32_t code)
{
    for (const Row& r : kRows)
        if (r.code == code)
            return &r;
    return nullptr;
}

// Every class asks with its own code, which is in the table.
const Row& specifiedRow(int32_t code)
{
    const Row* r = rowOf(code);
    if (r == nullptr || !r->specified)
        throw ccParallelIO::Unspecified();
    return *r;
}

} // namespace

void cc_IOConfigCheck(int32_t code, bool input, uint8_t line)
{
    const Row& r = specifiedRow(code);
    const uint32_t permitted = input ? r.inputs : r.outputs;
    if (line >= 32 || ((permitted >> line) & 1u) == 0)
        throw ccParallelIO::BadParams();
}

uint32_t cc_IOConfigCount(int32_t code, bool input)
{
    const Row& r = specifiedRow(code);
    return input ? r.numInputs : r.numOutputs;
}

const ccIOConfig* ioConfigForCode(int32_t code)
{
    const Row* r = rowOf(code);
    return r != nullptr ? r->object() : nullptr;
}

int32_t ioCodeForConfig(const ccIOConfig& config)
{
    // The exact class first: ccIOLightControlOption and ccIO7310 derive from
    // the 7310 light control and would otherwise be told to the module as 5.
    for (const Row& r : kRows)
        if (r.match(config) == 2)
            return r.code;
    for (const Row& r : kRows)
        if (r.match(config) == 1)
            return r.code;
    return 0;
}
