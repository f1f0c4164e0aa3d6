#include "acq/hyper/prop/custom.h"

#include <new>
#include <typeinfo>
#include <utility>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

namespace {

const wchar_t kCommandWord[] = L"Command";
const wchar_t kWriteWord[] = L"Write";
const wchar_t kRecordEnd[] = L"\n\r";

// Splits text into tokens as the C library's wide tokeniser does, with a
// delimiter set chosen per token: leading delimiters are skipped, and the
// delimiter that ends a token is consumed. Kept here rather than calling
// wcstok, whose form and hidden state differ between platforms.
class Tokens {
public:
    explicit Tokens(const std::wstring& text) : text_(text) {}

    // False when only delimiters (or nothing) are left.
    bool next(const wchar_t* delimiters, std::wstring& token)
    {
        const size_t start = text_.find_first_not_of(delimiters, pos_);
        if (start == std::wstring::npos) {
            pos_ = text_.size();
            return false;
        }
        const size_t end = text_.find_first_of(delimiters, start);
        if (end == std::wstring::npos) {
            token.assign(text_, start, std::wstring::npos);
            pos_ = text_.size();
        } else {
            token.assign(text_, start, end - start);
            pos_ = end + 1;
        }
        return true;
    }

private:
    const std::wstring& text_;
    size_t pos_ = 0;
};

} // namespace

std::wstring ccCustomPropertyBag::asString() const
{
    std::wstring text;
    for (size_t i = 0; i < kinds_.size(); ++i) {
        if (kinds_[i] == kCommand) {
            text.append(kCommandWord).append(1, L'\t').append(names_[i]);
        } else {
            text.append(kWriteWord).append(1, L'\t').append(names_[i]);
            text.append(1, L'\t').append(values_[i]);
        }
        text.append(kRecordEnd);
    }
    return text;
}

void ccCustomPropertyBag::fromString(const std::wstring& text)
{
    if (text.find(L'\0') != std::wstring::npos)
        throw BadParams();
    // Parsed aside and taken over only whole.
    ccCustomPropertyBag parsed;
    Tokens tokens(text);
    std::wstring token, name, value;
    bool more = tokens.next(L"\n\t", token);
    while (more) {
        // The CR of the previous record's terminator.
        if (!token.empty() && token[0] == L'\r') {
            token.erase(0, 1);
            if (token.empty())
                break;
        }
        if (token == kCommandWord) {
            if (!tokens.next(L"\n", name))
                throw BadParams();
            parsed.kinds_.push_back(kCommand);
            parsed.names_.push_back(name);
            parsed.values_.emplace_back();
        } else if (token == kWriteWord) {
            if (!tokens.next(L"\t", name) || !tokens.next(L"\n", value))
                throw BadParams();
            parsed.kinds_.push_back(kWrite);
            parsed.names_.push_back(name);
            parsed.values_.push_back(value);
        } else {
            throw BadParams();
        }
        more = tokens.next(L"\t", token);
    }
    swap(parsed);
}

void ccCustomPropertyBag::swap(ccCustomPropertyBag& other) noexcept
{
    kinds_.swap(other.kinds_);
    names_.swap(other.names_);
    values_.swap(other.values_);
}

ccPersistent* ccCustomProp::cmCreate() { return new (std::nothrow) ccCustomProp; }

void ccCustomProp::customProps(const ccCustomPropertyBag& bag)
{
    ccCustomPropertyBag copy(bag);
    if (fifo_)
        fifo_->customProps(copy);
    bag_.swap(copy);
}

void ccCustomProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccCustomProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/custom", 123);
    ccPersistent::archive(ar);
    std::wstring text;
    if (ar.isStoring())
        text = bag_.asString();
    ar.archive(text);
    if (ar.isLoading()) {
        // A text that does not parse stops the load before the board hears
        // of it.
        ccCustomPropertyBag loaded;
        loaded.fromString(text);
        customProps(loaded);
    }
    ccArchiveVisit::end(this, typeid(ccCustomProp));
}
