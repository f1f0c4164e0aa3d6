// The form that board and accelerator errors share: a message (possibly
// empty) and the driver module's last-error word (0 = none).
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <typeinfo>

#include "std/except/archive.h"
#include "std/except/except.h"
#include "std/except/persistent.h"

// The message, then " : LastError = " and the word when it is not 0. False
// when there is neither, so that the caller prints the default text.
bool ccPrintModuleError(std::wostream& os, const std::wstring& message, uint32_t lastError);

// Family root of one area's module errors. Names gives the stored name
// (kStoredName) and the text of this level's version error (kVersionText).
template <class Names>
class cc_ModuleErrors : public ccException {
public:
    cc_ModuleErrors() = default;
    // A null message is the empty one.
    cc_ModuleErrors(const wchar_t* message, uint32_t lastError)
        : message_(message ? message : L""), lastError_(lastError)
    {
    }

    const std::wstring& text() const { return message_; }
    uint32_t lastError() const { return lastError_; }

    void printOn(std::wostream& os) const override
    {
        if (!ccPrintModuleError(os, message_, lastError_))
            ccException::printOn(os);
    }
    const char* storedTypeName() const override { return Names::kStoredName; }

    // Version byte, the ccException level, the message, the word. This
    // level's version error carries a text of its own, not the class name.
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(cc_ModuleErrors)))
            return;
        ccArchiveVersion(ar, 0, Names::kVersionText, 0);
        ccException::archive(ar);
        ar.archive(message_).archive(lastError_);
        ccArchiveVisit::end(this, typeid(cc_ModuleErrors));
    }

private:
    std::wstring message_;
    uint32_t lastError_ = 0;
};
