// Tokens and values of a camera-configuration line: blanks, tabs and ";"
// separate tokens; a token that starts with a double quote runs to the next
// one. Numbers use "." whatever the locale.
#pragma once
#include <cstdint>
#include <string>

#include "std/except/archive.h"
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
    // object (integer, double, boolean, quoted string). A token longer than
    // kQuotedLength is quoted by its first kQuotedLength characters and "...".
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

class cc_AcqStringHelper::EqualsNotFound : public ccExceptionWithString, public cc_ccfException {
public:
    EqualsNotFound() : ccExceptionWithString(L"Equals not found") {}
    cmExceptionBody(EqualsNotFound, ccExceptionWithString, 0x10005A0Au, "class cc_AcqStringHelper::EqualsNotFound")
};

class cc_AcqStringHelper::BadVal : public ccExceptionWithString, public cc_ccfException {
public:
    static constexpr uint32_t kIntegerCode = 0x10005A04u;
    static constexpr uint32_t kDoubleCode = 0x10005A09u;
    static constexpr uint32_t kBooleanCode = 0x10005A07u;
    static constexpr uint32_t kQuotedStringCode = 0x10005A06u;
    // The message goes into the kept errors and the event log: a long token
    // is quoted only by its start.
    static constexpr size_t kQuotedLength = 64;
    static constexpr const char* kStoredName = "class cc_AcqStringHelper::BadVal";

    BadVal() = default;
    // kind: "integer", "double", "boolean" or "quoted string"; read: the text read.
    BadVal(const std::wstring& kind, const std::wstring& read, uint32_t code);

    uint32_t code() const override { return code_; }
    const char* storedTypeName() const override { return kStoredName; }
    [[noreturn]] void raise() override
    {
        BadVal copy(*this);
        delete this;
        throw copy;
    }
    static ccPersistent* cmCreate() { return new (std::nothrow) BadVal; }

    // Version byte, the ccExceptionWithString level, then the code, so that a
    // re-raised error keeps its kind.
    void archive(ccArchive& ar) override;

private:
    uint32_t code_ = kIntegerCode;
};
