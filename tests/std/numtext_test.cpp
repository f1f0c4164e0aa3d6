#include <gtest/gtest.h>
#include <stdlib.h>

#include <cfloat>
#include <clocale>
#include <cmath>

#include "std/numtext.h"
#include "tests/support/temp_dir.h"

namespace {

// Decimal numbers only are parsed; formats in engineering notation, integers in decimal. The rows are read under a
// locale whose decimal separator is a comma, which changes only the separator asked for without the dot flag;
// machines without a German locale get one built for the test, and where none can be had the rows hold alike.
TEST(NumText, EveryRowHoldsUnderACommaLocale)
{
    const TempDir built;
    const bool build = std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr;
    if (build) {
        (void)::system(("localedef -i de_DE -f UTF-8 " + built.path + "de_DE.UTF-8 >/dev/null 2>&1").c_str());
        ::setenv("LOCPATH", built.path.c_str(), 1);
    }
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;

    // An exponent without digits is not part of the number; decimal only, "." the only separator, no overflow;
    // then no number at all.
    const struct { const wchar_t* text; double value; std::size_t count; } parsed[] = {
        {L"1.5", 1.5, 3}, {L" \t-2.5e3x", -2500.0, 8}, {L"+.5", 0.5, 3}, {L"7.", 7.0, 2}, {L"1E-2;", 0.01, 4},
        {L"1e+", 1.0, 1}, {L"0x10", 0.0, 1}, {L"1,5", 1.0, 1}, {L"1e999", 0.0, 0}, {L"inf", 0.0, 0}, {L"nan", 0.0, 0},
        {L".", 0.0, 0}, {L"e5", 0.0, 0}, {L"", 0.0, 0}};
    for (const auto& r : parsed) {
        std::size_t count = 99;
        const double value = ccParseDouble(r.text, &count);
        EXPECT_EQ(std::pair(value, count), std::pair(r.value, r.count)) << testing::PrintToString(std::wstring(r.text));
    }
    EXPECT_EQ(ccParseDouble(L"4.25"), 4.25); // the count is optional

    // Then: rounded once from the exact value, an exact half to even, a carry out of the first; digits clamped
    // to 1..15; subnormals, powers of ten and values next to them, the extremes.
    const struct { double value; int digits; const wchar_t* text; } formatted[] = {
        {1234.5, 6, L"1.2345e3"}, {0.000125, 3, L"125e-6"}, {-0.0, 4, L"0"}, {100.0, 1, L"100"},
        {-1500.0, 2, L"-1.5e3"}, {std::nan(""), 3, L"NaN"}, {HUGE_VAL, 3, L"Inf"}, {-HUGE_VAL, 3, L"-Inf"},
        {2.5, 1, L"2"}, {3.5, 1, L"4"}, {2.5000000000000004, 1, L"3"}, {0.125, 2, L"120e-3"}, {9.96, 2, L"10"},
        {0.1499999999999999, 1, L"100e-3"}, {0.1349999999999999, 2, L"130e-3"},
        {1234.5, 0, L"1e3"}, {1.0 / 3.0, 20, L"333.333333333333e-3"}, {1e-310, 6, L"100e-312"},
        {4.9406564584124654e-324, 3, L"4.94e-324"}, {1e23, 15, L"100e21"}, {1e-5, 15, L"10e-6"},
        {999.9999999999999, 15, L"1e3"}, {DBL_MAX, 15, L"179.769313486232e306"}};
    for (const auto& r : formatted)
        EXPECT_EQ(ccDoubleToWString(r.value, r.digits, true), r.text) << r.value << " with " << r.digits;
    EXPECT_EQ(ccIntToWString(INT32_MIN) + ccIntToWString(0), L"-21474836480");
    EXPECT_EQ(ccDoubleToWString(1.5, 2, false), comma ? L"1,5" : L"1.5");
    std::setlocale(LC_ALL, "C");
    if (build)
        ::unsetenv("LOCPATH");
}

} // namespace
