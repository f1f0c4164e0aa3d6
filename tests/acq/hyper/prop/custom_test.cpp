#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/startup.h"
#include "tests/support/prop_fake.h"

namespace {

using namespace std::string_literals;
using Texts = std::vector<std::wstring>;

ccCustomPropertyBag parsed(const std::wstring& text)
{
    ccCustomPropertyBag bag;
    bag.fromString(text);
    return bag;
}

const std::wstring kOld = L"Command\tOld\n\r";
const std::wstring kResetGain = L"Command\tReset\n\rWrite\tGain\t12\n\r";

// Each text parsed into a bag holding kOld: what it prints afterwards, or
// nullptr where BadParams must leave kOld.
TEST(CustomPropertyBag, ParsesItsTextFormAndRefusesMalformedTextLeavingTheBagAsItWas)
{
    const struct { const char* what; std::wstring text; const wchar_t* printed; } rows[] = {
        {"empty", L"", L""},
        {"lone CR", L"\r", L""},
        {"command and write", kResetGain, kResetGain.c_str()},
        {"LF alone ends records", L"Command\tReset\nWrite\tGain\t12\n", kResetGain.c_str()},
        {"CR before LF stays in the value", L"Write\tGain\t12\r\n", L"Write\tGain\t12\r\n\r"},
        {"a command's name runs to LF", L"Command\tA\tB\n\r", L"Command\tA\tB\n\r"},
        {"runs of delimiters", L"Write\t\tGain\t12\n\r", L"Write\tGain\t12\n\r"},
        {"unknown keyword", L"Read\tx", nullptr},
        {"write without value", L"Write\tGain", nullptr},
        {"command without name", L"Command", nullptr},
        {"second record malformed", L"Command\tNew\n\rWrite\tGain", nullptr},
        {"keywords are case-sensitive", L"command\tReset\n\r", nullptr},
        {"keywords are whole tokens", L"Commands\tReset\n\r", nullptr},
        {"a NUL would cut the board's copy short", L"Command\tRe\0set\n\r"s, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        ccCustomPropertyBag bag = parsed(kOld);
        if (r.printed)
            bag.fromString(r.text);
        else
            EXPECT_THROW(bag.fromString(r.text), ccCustomPropertyBag::BadParams);
        EXPECT_EQ(bag.asString(), r.printed ? r.printed : kOld);
        EXPECT_EQ(parsed(bag.asString()).asString(), bag.asString());
    }
    const ccCustomPropertyBag bag = parsed(kResetGain);
    EXPECT_EQ(bag.kinds(), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(bag.names(), (Texts{L"Reset", L"Gain"}));
    EXPECT_EQ(bag.values(), (Texts{L"", L"12"}));
}

// Records each bag it is given as its text; refuses them when told to.
struct RecordingFifo : test_acq::FakeAcqFifo {
    Texts sent;
    bool refuse = false;
    void customProps(const ccCustomPropertyBag& bag) override
    {
        sent.push_back(bag.asString());
        if (refuse)
            throw ccUnsupportedHW();
    }
};

// The archive header, the version byte, the ccPersistent level's byte, then
// the text as a wide string: its length in UTF-16 units, FF FE, the units
// little-endian, FF FE.
test_bytes::Bytes stored(uint8_t version, const std::string& ascii)
{
    test_bytes::Bytes out = test_prop::head(version);
    out.insert(out.end(), {static_cast<unsigned char>(ascii.size()), 0xFF, 0xFE});
    for (char c : ascii)
        out.insert(out.end(), {static_cast<unsigned char>(c), 0x00});
    out.insert(out.end(), {0xFF, 0xFE});
    return out;
}

// A property holding kOld is set (a bag) or loaded (stored bytes): what it
// holds afterwards and what the board heard.
TEST(CustomProp, SetsAndLoadsReachTheAttachedBoardAndAnyRefusalKeepsTheStoredBag)
{
    ccAcqHyperPropStartup();
    enum Outcome { done, badParams, unknownVersion, boardRefuses };
    const struct {
        const char* what;
        bool load, attached;
        Outcome outcome;
        uint8_t version;
        std::string text;
    } rows[] = {
        {"set attached", false, true, done, 0, "Command\tReset\n\rWrite\tGain\t12\n\r"},
        {"set refused", false, true, boardRefuses, 0, "Command\tReset\n\r"},
        {"load attached", true, true, done, 0, "Command\tReset\n\rWrite\tGain\t12\n\r"},
        {"load empty", true, false, done, 0, ""},
        {"load malformed", true, true, badParams, 0, "Read\tx"},
        {"load newer version", true, true, unknownVersion, 1, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const std::wstring text(r.text.begin(), r.text.end());
        ccCustomProp p;
        EXPECT_EQ(p.customProps().size(), 0u);
        if (r.outcome == done) {
            p.customProps(parsed(text));
            EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { ccArchiveObject(p, ar, false); }),
                      stored(0, r.text));
        }
        p.customProps(parsed(kOld));
        RecordingFifo board;
        board.refuse = r.outcome == boardRefuses;
        if (r.attached)
            p.attach(&board);
        try {
            if (r.load)
                test_bytes::load(stored(r.version, r.text), [&](ccArchive& ar) { ccArchiveObject(p, ar, false); });
            else
                p.customProps(parsed(text));
            EXPECT_EQ(r.outcome, done);
        } catch (const ccCustomPropertyBag::BadParams&) {
            EXPECT_EQ(r.outcome, badParams);
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_EQ(r.outcome, unknownVersion);
            EXPECT_EQ(e.file(), L"acq/hyper/prop/custom");
        } catch (const ccUnsupportedHW&) {
            EXPECT_EQ(r.outcome, boardRefuses);
        }
        EXPECT_EQ(p.customProps().asString(), r.outcome == done ? text : kOld);
        const bool told = r.attached && (r.outcome == done || r.outcome == boardRefuses);
        EXPECT_EQ(board.sent, told ? Texts{text} : Texts{});
    }
    test_prop::expectMadeByStoredName({ccCustomProp::kStoredName});
}

} // namespace
