#pragma once
// Error translation: every COM method fails in one way, with an HRESULT and
// an error object on the calling thread whose description comes from the
// message source. Library exceptions (ccException), COM-level failures
// (ccCOMError) and memory exhaustion are turned into both by the method's
// single error handler:
//
//   static const ccCOMErrorContext ctx{&CLSID_Thing, &IID_IThing, u"put_Name"};
//   return ccComMethod(ctx, nullptr, [&] { ...; return S_OK; });
//
// A caught exception never yields a success code.

#include "platform/com/base.h"
#include "platform/com/errorinfo.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

class ccException;

// The text buffers of error texts, in UTF-16 units with the terminator.
constexpr size_t kErrorTextCapacity = 1024;

struct ccCOMErrorContext {
    const CLSID* clsid; // the object's class
    const IID* iid; // the interface the method belongs to
    const OLECHAR* method; // the same for every error the method reports
};

// A row of a translation table. A row whose flags are exactly 1 is a link:
// the table its function gives (if any) is searched where the row stands.
// Flags made only of 0x2, 0x4 and 0x8 are text flags (catalogue text of the
// HRESULT, the exception's text, with its class name); any other value is a
// message id formatted with the exception's text as argument 1. A row with
// code 0 that is not a link ends a table.
struct ccErrorMapEntry {
    uint32_t code;
    HRESULT hr;
    uint32_t flags;
    const ccErrorMapEntry* (*link)();
};
constexpr uint32_t kErrorMapLink = 0x1;
constexpr uint32_t kErrorMapCatalogueText = 0x2;
constexpr uint32_t kErrorMapExceptionText = 0x4;
constexpr uint32_t kErrorMapClassName = 0x8;

constexpr ccErrorMapEntry ccErrorMapLinkTo(const ccErrorMapEntry* (*table)())
{
    return {0, 0, kErrorMapLink, table};
}
constexpr ccErrorMapEntry ccErrorMapEnd{0, 0, 0, nullptr};

// The first row for code, link tables searched depth first; null when none.
const ccErrorMapEntry* ccFindErrorMapEntry(const ccErrorMapEntry* table, uint32_t code);
const ccErrorMapEntry* ccDefaultErrorMap();

// Up to four argument texts of a message; a missing one is null.
class ccMessageArgs {
public:
    static constexpr size_t kMax = 4;
    ccMessageArgs() = default;
    ccMessageArgs(std::initializer_list<const OLECHAR*> args);
    void add(const OLECHAR* arg); // null: an argument that gives nothing; past four: dropped
    void add(const std::wstring& arg);
    const OLECHAR* argument(size_t i) const;
    size_t count() const { return args_.size(); }

private:
    std::vector<std::optional<std::u16string>> args_;
};

// "%1" to "%9" (no larger than the count) become the arguments; any other
// '%' is copied. At most capacity - 1 units are written, then a NUL; the
// result is the length written.
size_t ccSubstituteMessageArgs(size_t capacity, const OLECHAR* text, OLECHAR* output, const ccMessageArgs* args);

// The catalogue id of an HRESULT, or 0 when it has none.
uint32_t ccMessageIdFromHResult(HRESULT hr, uint32_t capture);
// The class's ProgID cut before its second '.' (else its braced class id), a blank, the method name.
std::u16string ccErrorSourceText(const ccCOMErrorContext& context);
// [source text] " - Unable to load error message 0x" and the id in lower-case hex.
BSTR ccFallbackErrorText(uint32_t id, const ccCOMErrorContext* context);

// Capture modes: 0 ignores the thread's current error object; 1 and 2 take it over.
HRESULT ccReportCOMError(const ccCOMErrorContext& context, HRESULT hr, uint32_t capture, uint32_t messageId,
                         const ccMessageArgs* args, uint32_t helpContext, const OLECHAR* helpFile);
HRESULT ccReportCOMErrorText(const ccCOMErrorContext& context, HRESULT hr, uint32_t capture, const OLECHAR* text,
                             const ccMessageArgs* args, uint32_t helpContext, const OLECHAR* helpFile);
// The single place that builds the error object and sets it on the thread.
HRESULT ccSetErrorInfo(const ccCOMErrorContext* context, HRESULT hr, uint32_t capture, const OLECHAR* text,
                       const ccMessageArgs* args, uint32_t helpContext, const OLECHAR* helpFile,
                       IErrorInfo* captured);

// The failure of a COM-level routine. Copies share the texts and never throw.
class ccCOMError {
public:
    ccCOMError(HRESULT hr, uint32_t capture, uint32_t messageId = 0, const ccMessageArgs* args = nullptr,
               uint32_t helpContext = 0);

    HRESULT hr() const { return hr_; }
    uint32_t capture() const { return capture_; }
    const OLECHAR* description() const { return description_ ? description_->c_str() : nullptr; }
    const OLECHAR* helpFile() const { return helpFile_ ? helpFile_->c_str() : nullptr; }
    uint32_t helpContext() const { return helpContext_; }

    // Sets the error object for context; the result is a failure code.
    HRESULT report(const ccCOMErrorContext& context) const;

private:
    HRESULT hr_;
    uint32_t capture_;
    std::shared_ptr<const std::u16string> description_; // null: none
    uint32_t helpContext_;
    std::shared_ptr<const std::u16string> helpFile_; // null: none
};

// After a failed inner COM call: its error object travels outward.
[[noreturn]] void ccThrowCOMError(HRESULT hr);

// A library exception as the HRESULT of a method table (or null) and the default table.
HRESULT ccTranslateException(const ccCOMErrorContext& context, const ccException& e, const ccErrorMapEntry* table);

// The single error handler: call only inside a catch clause. Every exception
// becomes a failure code with its error object; nothing escapes.
HRESULT ccHandleCOMException(const ccCOMErrorContext& context, const ccErrorMapEntry* table) noexcept;

// The body of a COM method, with the single error handler around it.
template <class Body>
HRESULT ccComMethod(const ccCOMErrorContext& context, const ccErrorMapEntry* table, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return ccHandleCOMException(context, table);
    }
}

// The thread's current error object, taken and put back, as an EXCEPINFO and
// its interface id.
class ccSavedErrorInfo {
public:
    ccSavedErrorInfo();
    ~ccSavedErrorInfo();
    ccSavedErrorInfo(const ccSavedErrorInfo&) = delete;
    ccSavedErrorInfo& operator=(const ccSavedErrorInfo&) = delete;

    // False when the thread has no error object.
    bool save();

    EXCEPINFO info;
    GUID iid;

private:
    void clear();
};
