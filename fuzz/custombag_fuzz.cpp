// libFuzzer target: the custom property bag's text, which a client edits and
// an archive carries from outside. A text either parses or raises the bag's
// BadParams leaving the bag as it was; whatever parses prints as text that
// parses back to the same records, and a property holding it stores and
// loads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <ios>
#include <sstream>
#include <string>

#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/startup.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

namespace {

bool sameRecords(const ccCustomPropertyBag& a, const ccCustomPropertyBag& b)
{
    return a.kinds() == b.kinds() && a.names() == b.names() && a.values() == b.values();
}

// Stores p in a fresh archive and loads it into a new property.
ccCustomPropertyBag storeAndLoad(ccCustomProp& p)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    {
        ccArchive out(&sb, ccArchive::storing, ccArchive::littleEndian, false);
        out.archiveHeader();
        ccArchiveObject(p, out, false);
    }
    const std::string bytes = sb.str();
    ccMemoryArchive in(bytes.data(), static_cast<int32_t>(bytes.size()), false, false);
    ccCustomProp back;
    ccArchiveObject(back, in, false);
    return back.customProps();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = (ccAcqHyperPropStartup(), true);
    (void)registered;
    if (size < 1 || size > 1 << 16)
        return 0;
    // The first byte chooses how the rest becomes text: each byte one
    // character, or pairs of bytes as 16-bit characters (little-endian).
    std::wstring text;
    if (data[0] & 1) {
        for (size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    } else {
        for (size_t i = 1; i < size; ++i)
            text.push_back(static_cast<wchar_t>(data[i]));
    }

    ccCustomPropertyBag before;
    before.fromString(L"Command\tBefore\n\rWrite\tGain\t12\n\r");
    ccCustomPropertyBag bag = before;
    try {
        bag.fromString(text);
    } catch (const ccCustomPropertyBag::BadParams&) {
        if (!sameRecords(bag, before))
            std::abort();
        return 0;
    }
    if (bag.names().size() != bag.size() || bag.values().size() != bag.size())
        std::abort();
    ccCustomPropertyBag again;
    again.fromString(bag.asString());
    if (!sameRecords(again, bag))
        std::abort();

    // Byte characters only: wider ones may be no Unicode scalar, which the
    // archive's UTF-16 replaces. Past the archive's longest string it must
    // refuse to store.
    if (!(data[0] & 1)) {
        ccCustomProp p;
        p.customProps(bag);
        try {
            if (!sameRecords(storeAndLoad(p), bag))
                std::abort();
        } catch (const ccArchive::Errors&) {
            if (bag.asString().size() <= ccArchive::maxStringLength)
                std::abort();
        }
    }
    return 0;
}
