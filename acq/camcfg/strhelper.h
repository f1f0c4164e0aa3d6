// Tokens and values of a camera-configuration line: blanks, tabs and ";"
// separate tokens; a token that starts with a double quote runs to the next
// one. Numbers use "." whatever the locale.
#pragma once
#include <cstdint>
#include <string>

#include "std/except/except.h"

// Catches every value error of the file parsing.
class cc_ccfException {
public:
    virtual ~cc_ccfException();
};

class cc_AcqStringHelper {
public:
    // "Equals not found".
    class EqualsNotFound;
    // "Invalid value. Expected <kind>; read: \"<token>\"", its code kept in the
    // object (integer, double, boolean, quoted string).
    class BadVal;

    // The next token; text keeps what follows it (unchanged when only
    // delimiters are left, and the token is then empty).
    static std::wstring nextToken(std::wstring& text);
    // Takes the leading "=" (blanks and tabs before it allowed) and the
    // blanks after it; EqualsNotFound without one.
    static void expectEquals(std::wstring& text);
    // Each reads the next token as one value; BadVal when it is not one.
    static void parseInt(std::wstring& text, int32_t& value);
    static void parseDouble(std::wstring& text, double& value);
    static void parseBool(std::wstring& text, bool& value);
    static void parseQuotedString(std::wstring& text, std::wstring& value);
    // Index of the first name equal to text in a table ending with a null
    // entry; -1 for none.
    static int32_t findName(const std::wstring& text, const wchar_t* const* names);

    static void appendInt(std::wstring& text, int32_t value);
    static void appendBool(std::wstring& text, bool value);
    static void appendDouble(std::wstring& text, double value);
    static void appendQuoted(std::wstring& text, const std::wstring& value);
};
