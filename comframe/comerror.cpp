#include "comframe/comerror.h"

#include "comframe/messagesource.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/text.h"
#include "std/except/except.h"

namespace {

constexpr uint32_t kTextFlags = kErrorMapCatalogueText | kErrorMapExceptionText | kErrorMapClassName;
// Links nest only as deep as tables are written; a cycle must not overflow the stack.
constexpr int kMaxLinkDepth = 16;

template <class T> struct Released {
    T* p = nullptr;
    ~Released()
    {
        if (p) p->Release();
    }
};

struct FreedBstr {
    BSTR p = nullptr;
    ~FreedBstr() { SysFreeString(p); }
};

std::u16string textOf(BSTR text)
{
    return text ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

// Keeps a text within a buffer of kErrorTextCapacity units, never splitting a surrogate pair.
void bound(std::u16string& text)
{
    if (text.size() < kErrorTextCapacity) return;
    size_t n = kErrorTextCapacity - 1;
    if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    text.resize(n);
}

// A message source made and initialised for one report; empty when there is none.
class MessageSource {
public:
    MessageSource()
    {
        if (FAILED(CoCreateInstance(CLSID_QorMessageSource, nullptr, CLSCTX_ALL, IID_IQorMessageSource,
                                    reinterpret_cast<void**>(&source_.p))))
            source_.p = nullptr;
        if (source_.p && FAILED(source_.p->Init(ccModuleInstanceHandle(), 0))) {
            source_.p->Release();
            source_.p = nullptr;
        }
    }
    IQorMessageSource* get() const { return source_.p; }

    bool loadText(uint32_t id, std::u16string* text) const
    {
        if (!source_.p) return false;
        OLECHAR buffer[kErrorTextCapacity] = {};
        if (FAILED(source_.p->LoadText(id, buffer, kErrorTextCapacity))) return false;
        buffer[kErrorTextCapacity - 1] = 0;
        *text = buffer;
        return true;
    }

private:
    Released<IQorMessageSource> source_;
};

std::u16string fallbackText(uint32_t id, const ccCOMErrorContext* context)
{
    std::u16string text;
    if (context) text = ccErrorSourceText(*context);
    text += u" - Unable to load error message 0x";
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string hex;
    do {
        hex.insert(hex.begin(), digits[id & 0xF]);
        id >>= 4;
    } while (id != 0);
    return text + hex;
}

bool isCatalogueHelpContext(uint32_t id)
{
    return id >= 0x80048000u && id <= 0x8004FFFFu;
}

} // namespace

const ccErrorMapEntry* ccDefaultErrorMap()
{
    static const ccErrorMapEntry table[] = {
        {0x10000009u, E_INVALIDARG, 0xC, nullptr},
        {0x10000008u, E_POINTER, 0x2, nullptr}, // ccBadPointer
        {0x10000400u, hresultOf(0x8004E102u), 0x2, nullptr}, // ccPel::UnboundWindow
        {0x10000402u, hresultOf(0x8004E103u), 0x2, nullptr}, // ccPel::BadWindow
        {0x10000405u, hresultOf(0x8004E104u), 0xE, nullptr}, // ccPel::BadCoord
        {0x10000409u, hresultOf(0x8004E200u), 0xC, nullptr}, // ccPel::NonlinearXform
        {0x10001500u, hresultOf(0x8004C002u), 0x2, nullptr}, // ccTimeout::Expired
        ccErrorMapEnd,
    };
    return table;
}

namespace {

const ccErrorMapEntry* findEntry(const ccErrorMapEntry* table, uint32_t code, int depth)
{
    if (!table || depth > kMaxLinkDepth) return nullptr;
    for (const ccErrorMapEntry* row = table; row->code != 0 || row->flags == kErrorMapLink; ++row) {
        if (row->flags == kErrorMapLink) {
            if (const ccErrorMapEntry* hit = findEntry(row->link ? row->link() : nullptr, code, depth + 1)) return hit;
        } else if (row->code == code) {
            return row;
        }
    }
    return nullptr;
}

} // namespace

const ccErrorMapEntry* ccFindErrorMapEntry(const ccErrorMapEntry* table, uint32_t code)
{
    return findEntry(table, code, 0);
}

ccMessageArgs::ccMessageArgs(std::initializer_list<const OLECHAR*> args)
{
    for (const OLECHAR* arg : args)
        add(arg);
}

void ccMessageArgs::add(const OLECHAR* arg)
{
    if (args_.size() >= kMax) return;
    if (arg)
        args_.emplace_back(std::u16string(arg));
    else
        args_.emplace_back(std::nullopt);
}

void ccMessageArgs::add(const std::wstring& arg)
{
    if (args_.size() < kMax) args_.emplace_back(plat::utf16FromWide(arg));
}

const OLECHAR* ccMessageArgs::argument(size_t i) const
{
    return i < args_.size() && args_[i] ? args_[i]->c_str() : nullptr;
}

size_t ccSubstituteMessageArgs(size_t capacity, const OLECHAR* text, OLECHAR* output, const ccMessageArgs* args)
{
    if (capacity == 0 || !output) return 0;
    const size_t limit = capacity - 1;
    const size_t count = args ? args->count() : 0;
    size_t n = 0;
    auto put = [&](OLECHAR c) {
        if (n < limit) output[n++] = c;
    };
    for (const OLECHAR* p = text; p && *p && n < limit; ++p) {
        if (*p != u'%' || p[1] < u'0' || p[1] > u'9') {
            put(*p);
            continue;
        }
        const size_t digit = static_cast<size_t>(p[1] - u'0');
        if (digit >= 1 && digit <= count) {
            for (const OLECHAR* a = args->argument(digit - 1); a && *a; ++a)
                put(*a);
        } else {
            put(u'%');
            put(p[1]);
        }
        ++p;
    }
    output[n] = 0;
    return n;
}

uint32_t ccMessageIdFromHResult(HRESULT hr, uint32_t capture)
{
    static const struct {
        uint32_t hr;
        uint32_t id;
    } standard[] = {
        {0x00000000u, 0x80048400u}, {0x80004005u, 0x80048080u}, {0x8000FFFFu, 0x80048081u},
        {0x8007000Eu, 0x80048082u}, {0x80070057u, 0x80048083u}, {0x80004003u, 0x80048084u},
        {0x80004002u, 0x80048085u}, {0x80020003u, 0x80048086u}, {0x80020005u, 0x80048087u},
        {0x8002000Au, 0x80048088u}, {0x8002000Bu, 0x80048089u}, {0x8002000Eu, 0x8004808Au},
        {0x8002000Fu, 0x8004808Bu}, {0x80020006u, 0x8004808Cu}, {0x80080004u, 0x8004808Du},
    };
    const uint32_t code = static_cast<uint32_t>(hr);
    for (const auto& row : standard)
        if (row.hr == code) return row.id;
    // The suite's own codes are their own ids, unless a captured error object speaks for them.
    if ((code >> 16) == 0x8004u) return capture == 2 ? 0 : code;
    return 0;
}

std::u16string ccErrorSourceText(const ccCOMErrorContext& context)
{
    if (!context.clsid) return {};
    std::u16string source;
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(*context.clsid, &progId)) && progId) {
        source = progId;
        CoTaskMemFree(progId);
        const size_t first = source.find(u'.');
        if (first != std::u16string::npos) {
            const size_t second = source.find(u'.', first + 1);
            if (second != std::u16string::npos) source.resize(second);
        }
    } else {
        OLECHAR braced[40];
        if (StringFromGUID2(*context.clsid, braced, 40) <= 0) return {};
        source = braced;
    }
    source += u' ';
    if (context.method) source += context.method;
    return source;
}

BSTR ccFallbackErrorText(uint32_t id, const ccCOMErrorContext* context)
{
    const std::u16string text = fallbackText(id, context);
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

HRESULT ccSetErrorInfo(const ccCOMErrorContext* context, HRESULT hr, uint32_t capture, const OLECHAR* text,
                       const ccMessageArgs* args, uint32_t helpContext, const OLECHAR* helpFile,
                       IErrorInfo* captured)
{
    std::u16string file = helpFile ? helpFile : u"";
    Released<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create.p)) || !create.p) return hr;
    if (context) {
        std::u16string source = ccErrorSourceText(*context);
        create.p->SetSource(source.data());
        if (context->iid) create.p->SetGUID(*context->iid);
    }
    bool hasText = text != nullptr;
    std::u16string description = text ? text : u"";
    if (hasText && args) {
        OLECHAR buffer[kErrorTextCapacity];
        // A substitution that leaves nothing keeps the text as it was.
        if (ccSubstituteMessageArgs(kErrorTextCapacity, description.c_str(), buffer, args) > 0) description = buffer;
    }
    if (capture != 0 && captured) {
        FreedBstr inner;
        if (SUCCEEDED(captured->GetDescription(&inner.p)) && SysStringLen(inner.p) > 0) {
            if (!description.empty()) description += u"\r\n";
            description += textOf(inner.p);
            hasText = true;
        }
        FreedBstr innerFile;
        if (FAILED(captured->GetHelpFile(&innerFile.p))) innerFile.p = nullptr;
        file = textOf(innerFile.p);
        DWORD innerContext = 0;
        if (!file.empty() && SUCCEEDED(captured->GetHelpContext(&innerContext))) helpContext = innerContext;
    }
    bound(description);
    create.p->SetDescription(hasText ? description.data() : nullptr);

    if (helpContext == 0) helpContext = ccMessageIdFromHResult(hr, capture);
    if (helpContext != 0) {
        if (file.empty() && (capture == 0 || isCatalogueHelpContext(helpContext))) {
            MessageSource source;
            FreedBstr found;
            if (source.get() && SUCCEEDED(source.get()->GetHelpFile(helpContext, &found.p))) file = textOf(found.p);
        }
        if (!file.empty()) {
            create.p->SetHelpFile(file.data());
            create.p->SetHelpContext(helpContext);
        }
    }
    Released<IErrorInfo> info;
    if (SUCCEEDED(create.p->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info.p))) && info.p)
        SetErrorInfo(0, info.p);
    return hr;
}

HRESULT ccReportCOMError(const ccCOMErrorContext& context, HRESULT hr, uint32_t capture, uint32_t messageId,
                         const ccMessageArgs* args, uint32_t helpContext, const OLECHAR* helpFile)
{
    Released<IErrorInfo> captured;
    if (capture != 0 && GetErrorInfo(0, &captured.p) != S_OK) captured.p = nullptr;
    if (messageId == 0) messageId = ccMessageIdFromHResult(hr, capture);
    if (helpContext == 0) helpContext = messageId;
    if (messageId == 0) return ccSetErrorInfo(&context, hr, capture, nullptr, args, helpContext, helpFile, captured.p);
    std::u16string text;
    if (!MessageSource().loadText(messageId, &text)) text = fallbackText(messageId, &context);
    return ccSetErrorInfo(&context, hr, capture, text.c_str(), args, helpContext, helpFile, captured.p);
}

HRESULT ccReportCOMErrorText(const ccCOMErrorContext& context, HRESULT hr, uint32_t capture, const OLECHAR* text,
                             const ccMessageArgs* args, uint32_t helpContext, const OLECHAR* helpFile)
{
    Released<IErrorInfo> captured;
    if (capture != 0 && GetErrorInfo(0, &captured.p) != S_OK) captured.p = nullptr;
    return ccSetErrorInfo(&context, hr, capture, text, args, helpContext, helpFile, captured.p);
}

ccCOMError::ccCOMError(HRESULT hr, uint32_t capture, uint32_t messageId, const ccMessageArgs* args,
                       uint32_t helpContext)
    : hr_(hr)
    , capture_(capture)
    , helpContext_(helpContext != 0 ? helpContext : messageId)
{
    Released<IErrorInfo> captured;
    if (capture != 0 && GetErrorInfo(0, &captured.p) != S_OK) captured.p = nullptr;
    std::u16string description;
    bool hasDescription = false;
    if (messageId != 0) {
        MessageSource source;
        if (source.get() && args) {
            // The source takes three arguments; a fourth is not passed on.
            OLECHAR buffer[kErrorTextCapacity] = {};
            const OLECHAR* arg[3];
            for (size_t i = 0; i < 3; ++i)
                arg[i] = args->argument(i) ? args->argument(i) : u"";
            if (SUCCEEDED(source.get()->FormatText(messageId, buffer, kErrorTextCapacity, arg[0], arg[1], arg[2]))) {
                buffer[kErrorTextCapacity - 1] = 0;
                description = buffer;
                hasDescription = true;
            }
        } else if (source.get()) {
            FreedBstr text;
            if (SUCCEEDED(source.get()->GetText(messageId, &text.p))) {
                description = textOf(text.p);
                hasDescription = true;
            }
        }
        if (!hasDescription) {
            description = fallbackText(messageId, nullptr);
            hasDescription = true;
        }
    }
    if (captured.p) {
        FreedBstr inner;
        if (SUCCEEDED(captured.p->GetDescription(&inner.p)) && SysStringLen(inner.p) > 0) {
            if (!description.empty()) description += u"\r\n";
            description += textOf(inner.p);
            hasDescription = true;
        }
        FreedBstr innerFile;
        DWORD innerContext = 0;
        if (SUCCEEDED(captured.p->GetHelpContext(&innerContext))) helpContext_ = innerContext;
        if (SUCCEEDED(captured.p->GetHelpFile(&innerFile.p)) && SysStringLen(innerFile.p) > 0)
            helpFile_ = std::make_shared<const std::u16string>(textOf(innerFile.p));
    }
    if (hasDescription) {
        bound(description);
        description_ = std::make_shared<const std::u16string>(std::move(description));
    }
}

HRESULT ccCOMError::report(const ccCOMErrorContext& context) const
{
    // A success code here would report a failed method as a successful one.
    const HRESULT hr = FAILED(hr_) ? hr_ : E_FAIL;
    if (!description_ && !helpFile_) return ccReportCOMError(context, hr, capture_, 0, nullptr, 0, nullptr);
    return ccReportCOMErrorText(context, hr, 0, description(), nullptr, helpContext_, helpFile());
}

void ccThrowCOMError(HRESULT hr)
{
    throw ccCOMError(hr, 2, 0, nullptr, 0);
}

HRESULT ccTranslateException(const ccCOMErrorContext& context, const ccException& e, const ccErrorMapEntry* table)
{
    const uint32_t code = e.code();
    const ccErrorMapEntry* row = table ? ccFindErrorMapEntry(table, code) : nullptr;
    if (!row) row = ccFindErrorMapEntry(ccDefaultErrorMap(), code);
    HRESULT hr = row ? row->hr : E_FAIL;
    const uint32_t flags = row ? row->flags : 0xC;
    // A library exception is a failure, whatever a table says.
    if (SUCCEEDED(hr)) hr = E_FAIL;

    if ((flags & ~kTextFlags) != 0) {
        ccMessageArgs args;
        args.add(e.message(true));
        return ccReportCOMError(context, hr, 0, flags, &args, 0, nullptr);
    }
    std::u16string text;
    if (flags & kErrorMapCatalogueText) {
        const uint32_t id = ccMessageIdFromHResult(hr, 0);
        if (!MessageSource().loadText(id, &text)) text = fallbackText(id, nullptr);
    }
    if (flags & kErrorMapExceptionText) {
        if (!text.empty()) text += u"\r\n";
        text += plat::utf16FromWide(e.message((flags & kErrorMapClassName) != 0));
    }
    bound(text);
    return ccReportCOMErrorText(context, hr, 0, text.c_str(), nullptr, 0, nullptr);
}

HRESULT ccHandleCOMException(const ccCOMErrorContext& context, const ccErrorMapEntry* table) noexcept
{
    try {
        try {
            throw;
        } catch (const ccCOMError& e) {
            return e.report(context);
        } catch (const ccException& e) {
            return ccTranslateException(context, e, table);
        } catch (const std::bad_alloc&) {
            return ccReportCOMError(context, E_OUTOFMEMORY, 0, 0, nullptr, 0, nullptr);
        } catch (...) {
            return ccReportCOMError(context, E_FAIL, 0, 0, nullptr, 0, nullptr);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

ccSavedErrorInfo::ccSavedErrorInfo()
    : info{}
    , iid(GUID_NULL)
{
}

ccSavedErrorInfo::~ccSavedErrorInfo()
{
    clear();
}

void ccSavedErrorInfo::clear()
{
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
    iid = GUID_NULL;
}

bool ccSavedErrorInfo::save()
{
    clear();
    Released<IErrorInfo> current;
    if (GetErrorInfo(0, &current.p) != S_OK || !current.p) return false;
    if (FAILED(current.p->GetSource(&info.bstrSource))) info.bstrSource = nullptr;
    if (FAILED(current.p->GetDescription(&info.bstrDescription))) info.bstrDescription = nullptr;
    if (FAILED(current.p->GetHelpFile(&info.bstrHelpFile))) info.bstrHelpFile = nullptr;
    if (FAILED(current.p->GetHelpContext(&info.dwHelpContext))) info.dwHelpContext = 0;
    if (FAILED(current.p->GetGUID(&iid))) iid = GUID_NULL;
    SetErrorInfo(0, current.p);
    return true;
}
