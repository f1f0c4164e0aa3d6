// Numbers in text settings (camera-configuration files): "." is the decimal
// separator in the text whatever the process locale is.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The decimal number at the start of the text (after white space): sign,
// digits with an optional "." and an optional exponent. Hexadecimal, "inf"
// and "nan" are not numbers. The count receives the characters read, 0 when
// no number starts the text; the value is then 0.0.
double ccParseDouble(const std::wstring& text, std::size_t* count = nullptr);

// Decimal, "-" for negatives, no padding.
std::wstring ccIntToWString(int32_t value);

// Engineering notation with `digits` significant digits (1 to 15), rounded
// once from the exact value (an exact half to even), trailing zeros dropped: 1234.5 with 6 digits is "1.2345e3", 0.000125 with 3 is
// "125e-6". The separator is "." with the dot flag, else the first byte of the
// C locale's decimal point. "NaN", "Inf", "-Inf" for the special values.
std::wstring ccDoubleToWString(double value, int digits, bool dot);
