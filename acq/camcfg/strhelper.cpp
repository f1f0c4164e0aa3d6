#include "acq/camcfg/strhelper.h"

cc_ccfException::~cc_ccfException() = default;

cc_AcqStringHelper::BadVal::BadVal(const std::wstring& kind, const std::wstring& read, uint32_t code)
    : ccExceptionWithString(L"Invalid value. Expected " + kind + L"; read: \"" + read + L"\""), code_(code)
{
}

void cc_AcqStringHelper::BadVal::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(BadVal)))
        return;
    ccArchiveVersion(ar, 0, ccExceptionLevelName(kStoredName), 0);
    ccExceptionWithString::archive(ar);
    ar.archive(code_);
    ccArchiveVisit::end(this, typeid(BadVal));
}

std::wstring cc_AcqStringHelper::nextToken(std::wstring&) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::expectEquals(std::wstring&) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::parseInt(std::wstring&, int32_t&) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::parseDouble(std::wstring&, double&) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::parseBool(std::wstring&, bool&) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::parseQuotedString(std::wstring&, std::wstring&) { throw ccInvariantFailure(); }
int32_t cc_AcqStringHelper::findName(const std::wstring&, const wchar_t* const*) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::appendInt(std::wstring&, int32_t) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::appendBool(std::wstring&, bool) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::appendDouble(std::wstring&, double) { throw ccInvariantFailure(); }
void cc_AcqStringHelper::appendQuoted(std::wstring&, const std::wstring&) { throw ccInvariantFailure(); }
