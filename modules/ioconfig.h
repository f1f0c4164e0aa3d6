// I/O configurations: which line numbers of a board's parallel I/O are inputs
// and which are outputs, one class per board model and I/O option, each known
// to the driver module by its I/O setting code.
#pragma once
#include <cstdint>

// Stateless: an object is only its class.
class ccIOConfig {
public:
    // Return when the number is permitted, else throw ccParallelIO::BadParams
    // (ccParallelIO::Unspecified for a configuration that answers nothing).
    virtual void checkInputLine(uint8_t line) const = 0;
    virtual void checkOutputLine(uint8_t line) const = 0;
    virtual uint32_t numInputLines() const = 0;
    virtual uint32_t numOutputLines() const = 0;
    virtual ~ccIOConfig() = default;
    // A new object of the same class, the caller's.
    virtual ccIOConfig* clone() const = 0;

protected:
    ccIOConfig() = default;
    ccIOConfig(const ccIOConfig&) = default;
    ccIOConfig& operator=(const ccIOConfig&) = default;
};

// What the table of Code says about a line or the counts.
void cc_IOConfigCheck(int32_t code, bool input, uint8_t line);
uint32_t cc_IOConfigCount(int32_t code, bool input);

// A configuration class answering from the row of its code.
template <class Self, int32_t Code, class Base = ccIOConfig>
class cc_IOTableConfig : public Base {
public:
    static constexpr int32_t kCode = Code;

    void checkInputLine(uint8_t line) const override { cc_IOConfigCheck(Code, true, line); }
    void checkOutputLine(uint8_t line) const override { cc_IOConfigCheck(Code, false, line); }
    uint32_t numInputLines() const override { return cc_IOConfigCount(Code, true); }
    uint32_t numOutputLines() const override { return cc_IOConfigCount(Code, false); }
    ccIOConfig* clone() const override { return new Self; }
};

class ccIO7360LVDS : public cc_IOTableConfig<ccIO7360LVDS, 1> {};
class ccIO7360TTL : public cc_IOTableConfig<ccIO7360TTL, 2> {};
class ccIO7360DualLVDS : public cc_IOTableConfig<ccIO7360DualLVDS, 3> {};
class ccIOStandardOption : public cc_IOTableConfig<ccIOStandardOption, 4> {};
// Answers no line question: every operation throws ccParallelIO::Unspecified.
class ccIOLightControl7310 : public cc_IOTableConfig<ccIOLightControl7310, 5> {};
class ccIOLightControlOption : public cc_IOTableConfig<ccIOLightControlOption, 6, ccIOLightControl7310> {};
class ccIOExternalOption : public cc_IOTableConfig<ccIOExternalOption, 7> {};
class ccIO7310 : public cc_IOTableConfig<ccIO7310, 8, ccIOLightControl7310> {};
class ccIOSingleChannel7310d : public cc_IOTableConfig<ccIOSingleChannel7310d, 9> {};
class ccIOSingleChannelExternal7310d : public cc_IOTableConfig<ccIOSingleChannelExternal7310d, 10> {};
class ccIOMultiChannel7310d : public cc_IOTableConfig<ccIOMultiChannel7310d, 11> {};
class ccIOMultiChannelExternal7310d : public cc_IOTableConfig<ccIOMultiChannelExternal7310d, 12> {};
class ccIO7312 : public cc_IOTableConfig<ccIO7312, 13> {};
class ccIO7351 : public cc_IOTableConfig<ccIO7351, 14> {};
class ccIO7354 : public cc_IOTableConfig<ccIO7354, 15> {};
class ccIOExternal7351 : public cc_IOTableConfig<ccIOExternal7351, 16> {};
class ccIOExternal7354 : public cc_IOTableConfig<ccIOExternal7354, 17> {};
class ccIOSplit7351 : public cc_IOTableConfig<ccIOSplit7351, 18> {};
class ccIOSplit7354 : public cc_IOTableConfig<ccIOSplit7354, 19> {};
class ccIO7350l : public cc_IOTableConfig<ccIO7350l, 26> {};
class ccIOExternal7350l : public cc_IOTableConfig<ccIOExternal7350l, 27> {};
class ccIOSplit7350l : public cc_IOTableConfig<ccIOSplit7350l, 28> {};

// The process's object of that code; null outside the table (0 and 20 to 25
// included).
const ccIOConfig* ioConfigForCode(int32_t code);
// The code of config's class; for a class derived from one of the table, the
// first code (in code order) whose class it derives from; 0 for any other.
int32_t ioCodeForConfig(const ccIOConfig& config);
