#include "modules/ioconfig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <typeinfo>

#include "modules/parallel_io.h"

namespace {

// Line n is permitted when character n is '1'; inputs null: every question is Unspecified.
struct Row { int32_t code; const std::type_info& type; const char* inputs; const char* outputs; };

const Row kRows[] = {
    {1, typeid(ccIO7360LVDS), "11111111", "11111111"},
    {2, typeid(ccIO7360TTL), "11111111", "11111111"},
    {3, typeid(ccIO7360DualLVDS), "..111111", "..111111"},
    {4, typeid(ccIOStandardOption), "1111111111111111", "11111111111111111111"},
    {5, typeid(ccIOLightControl7310), nullptr, nullptr},
    {6, typeid(ccIOLightControlOption), "11111111", "............11111111"},
    {7, typeid(ccIOExternalOption), "11111111", "11111111111111111111"},
    {8, typeid(ccIO7310), "", "1"},
    {9, typeid(ccIOSingleChannel7310d), "11111111", "11111111"},
    {10, typeid(ccIOSingleChannelExternal7310d), "11", "..111111"},
    {11, typeid(ccIOMultiChannel7310d), "111111111111", "111111111111"},
    {12, typeid(ccIOMultiChannelExternal7310d), "11........11", "..11111111"},
    {13, typeid(ccIO7312), "1111", "1111"},
    {14, typeid(ccIO7351), "1111111111111111", "1111111111111111"},
    {15, typeid(ccIO7354), "1111111111111111", "1111111111111111"},
    {16, typeid(ccIOExternal7351), "1111....1.1.1.1", "....1111.1.1.1.1"},
    {17, typeid(ccIOExternal7354), "1111....1.1.1.1", "....1111.1.1.1.1"},
    {18, typeid(ccIOSplit7351), "111111111.1.1.1", "....111111111111"},
    {19, typeid(ccIOSplit7354), "111111111.1.1.1", "....111111111111"},
    {26, typeid(ccIO7350l), "........11111111", "........11111111"},
    {27, typeid(ccIOExternal7350l), "........1.1.1.1", ".........1.1.1.1"},
    {28, typeid(ccIOSplit7350l), "........1.1.1.1", "........11111111"},
};

struct OwnStandard : ccIOStandardOption {};

TEST(IOConfig, OnlyTableCodesAreClassesPermittingExactlyTheirLines)
{
    for (int32_t code : {0, 20, 21, 22, 23, 24, 25, 29, -1})
        EXPECT_EQ(ioConfigForCode(code), nullptr) << code;
    EXPECT_EQ(ioCodeForConfig(OwnStandard()), 4); // derived: the code of its table base
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.code);
        const ccIOConfig* config = ioConfigForCode(row.code);
        ASSERT_NE(config, nullptr);
        EXPECT_EQ(typeid(*config), row.type);
        EXPECT_EQ(ioCodeForConfig(*config), row.code);
        const std::unique_ptr<ccIOConfig> copy(config->clone());
        EXPECT_EQ(typeid(*copy), row.type);
        for (bool input : {true, false}) {
            const auto count = [&] { return input ? config->numInputLines() : config->numOutputLines(); };
            const auto check = [&](uint8_t n) { input ? config->checkInputLine(n) : config->checkOutputLine(n); };
            if ((input ? row.inputs : row.outputs) == nullptr) {
                EXPECT_THROW(count(), ccParallelIO::Unspecified);
                EXPECT_THROW(check(input ? 0 : 255), ccParallelIO::Unspecified);
                continue;
            }
            const std::string permitted = input ? row.inputs : row.outputs;
            EXPECT_EQ(count(), static_cast<uint32_t>(std::count(permitted.begin(), permitted.end(), '1')));
            for (int n = 0; n < 256; ++n) {
                if (n < static_cast<int>(permitted.size()) && permitted[n] == '1')
                    EXPECT_NO_THROW(check(n)) << input << " " << n;
                else
                    EXPECT_THROW(check(n), ccParallelIO::BadParams) << input << " " << n;
            }
        }
    }
}

} // namespace
