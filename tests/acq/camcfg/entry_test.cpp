#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <stdexcept>

#include "acq/camcfg/entry.h"
#include "acq/camcfg/strhelper.h"
#include "tests/support/stored.h"

namespace {

using namespace test_bytes;

typedef ccPtrHandle<cc_camCfgEntry> Entry;
typedef cc_camCfgEntry E;
typedef Entry (*Factory)();
typedef cc_camCfgList<cs_h_timingSpec> HList;
typedef cc_camCfgList<cs_v_timingSpec> VList;

const uint32_t kBadType = cc_camCfgEntry::BadType::kCode;

// The entry's archive, behind the archive header.
Bytes stored(E& e)
{
    Bytes all = store(ccArchive::littleEndian, [&](ccArchive& ar) { e.archive(ar); });
    return Bytes(all.begin() + 2, all.end());
}

void loadInto(E& e, const Bytes& body) { load(cat({{0x02, 0x01}, body}), [&](ccArchive& ar) { e.archive(ar); }); }

Entry loaded(Factory create, const Bytes& body) { Entry e = create(); return loadInto(*e, body), e; }

std::wstring text(E& e, int32_t index = 0) { std::wstring t; return e.convertText(t, true, index), t; }

Bytes word(int32_t v) { return le(static_cast<uint32_t>(v), 4); }

// A value is read from the start of the text, the rest kept; bad numbers
// throw (code, 0 for none) and keep the value.
TEST(CamCfgEntry, ReadsItsValueFromText)
{
    const struct { Factory create; std::wstring input; uint32_t code; bool result; std::wstring value, rest; }
    rows[] = {
        {cc_CamConfigInt32::create, L"640; note", 0, true, L"640", L"; note"},
        {cc_CamConfigInt32::create, L"wide", 0x10005A04u, false, L"-1", L""},
        {HList::create, L"1 -25", 0, true, L"1 -25", L""},
        {VList::create, L"0 2.5", 0, true, L"0 2.5", L""},
        {VList::create, L"1", 0x10005A09u, false, L"", L""}, // no value after the flag: nothing appended
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.input);
        Entry e = r.create();
        std::wstring line = r.input;
        bool result = false;
        EXPECT_EQ(codeOf([&] { result = e->convertText(line, false, 0); }), r.code);
        EXPECT_EQ(result, r.result);
        EXPECT_EQ(text(*e), r.value);
        EXPECT_EQ(line, r.rest);
    }
}

// Each change on a new entry: the error raised (0: none) and the entry's
// text after it (a new entry's is its construction value). A setter or
// append of another type raises BadType and leaves the entry as it was (the
// pointer is never read as the entry's own type). Damaged archives: a huge
// count meets the end of the input (no allocation from the count, nothing
// appended); an enumeration index outside its table loads but has no text.
TEST(CamCfgEntry, ChangesRaiseOrKeepTheValue)
{
    const int32_t i = 7;
    const double d = 2.5;
    const bool b = false;
    const auto pel = static_cast<ce_pelType>(1);
    const auto order = static_cast<ce_colorPlaneOrder>(1);
    const auto load = [](Bytes body) { return [=](E& e) { loadInto(e, body); }; };
    const uint32_t eof = ccArchive::Eof::kCode;
    const struct { Factory create; std::function<void(E&)> change; uint32_t code; std::wstring after; } rows[] = {
        {cc_CamConfigDouble::create, [&](E& e) { e.setValue(&i); }, kBadType, L"-1"},
        {cc_CamConfigInt32::create, [&](E& e) { e.setValue(&d); }, kBadType, L"-1"},
        {cc_CamConfigString::create, [&](E& e) { e.setValue(&b); }, kBadType, L"\"\""},
        {cc_CamConfigBool::create, [&](E& e) { e.setValue(&i); }, kBadType, L"1"},
        {cc_CamConfigPelType::create, [&](E& e) { e.setValue(&order); }, kBadType, L""},
        {HList::create, [&](E& e) { e.setValue(&i); }, kBadType, L""},
        {HList::create, [&](E& e) { e.appendV({true, 1.0}); }, kBadType, L""},
        {VList::create, [&](E& e) { e.appendH({true, 1}); }, kBadType, L""},
        {cc_CamConfigInt32::create, [&](E& e) { e.appendH({true, 1}); }, kBadType, L"-1"},
        {cc_CamConfigPelType::create, [&](E& e) { e.setValue(&pel); }, 0, L"RGBpacked"}, // its own type
        {VList::create, load(cat({word(-1), {0x01}, dbl(1.5)})), eof, L""},
        {HList::create, load(cat({word(1), {0x01}, word(4)})), 0, L"1 4"},
        {cc_CamConfigPolarity::create, load(word(1)), 0, L"active_high"},
        {cc_CamConfigPolarity::create, load(word(2)), 0, L""},
        {cc_CamConfigPolarity::create, load(word(-1)), 0, L""},
        {cc_CamConfigInt32::create, load({0x01, 0x00}), eof, L"-1"},
    };
    for (size_t n = 0; n < std::size(rows); ++n) {
        Entry e = rows[n].create();
        EXPECT_EQ(codeOf([&] { rows[n].change(*e); }), rows[n].code) << n;
        EXPECT_EQ(text(*e), rows[n].after) << n;
        std::wstring t; // nothing to print is a failure, not an empty success
        EXPECT_EQ(e->convertText(t, true, 0), !rows[n].after.empty()) << n;
    }
}

// Getters answer only for their own type; the narrowing ones read through
// the Int32 or Double getter and leave their out value alone on any other
// entry. On the list "1 1, 1 2": set-at replaces inside, appends at the
// count, refuses beyond; removal inside only; text of an element outside is
// refused. Equality compares class and value, either way round. Each check
// answers whether the entries behaved.
TEST(CamCfgEntry, GettersEqualityAndListEditing)
{
    const Entry i = loaded(cc_CamConfigInt32::create, word(70000)), d = loaded(cc_CamConfigDouble::create, dbl(0.5));
    const Bytes two = cat({word(2), {0x01}, word(1), {0x01}, word(2)});
    Entry l = loaded(HList::create, two);
    const auto items = [&] {
        std::wstring all;
        for (int32_t n = 0; n < l->count(); ++n)
            all += (n ? L", " : L"") + text(*l, n);
        return all;
    };
    const auto equal = [](Factory a, const Bytes& x, Factory b, const Bytes& y) {
        const bool one = loaded(a, x)->equals(*loaded(b, y)), other = loaded(b, y)->equals(*loaded(a, x));
        return one == other ? one : throw std::logic_error("equals is not symmetric");
    };
    const Factory int32 = cc_CamConfigInt32::create, h = HList::create;
    const std::pair<const char*, std::function<bool()>> rows[] = {
        {"same int", [&] { return equal(int32, word(4), int32, word(4)); }},
        {"other int", [&] { return !equal(int32, word(4), int32, word(5)); }},
        {"int and double", [&] { return !equal(int32, word(-1), cc_CamConfigDouble::create, dbl(-1)); }},
        {"two enumerations, one index",
         [&] { return !equal(cc_CamConfigHdSignal::create, word(1), cc_CamConfigVdSignal::create, word(1)); }},
        {"empty lists of two kinds", [&] { return !equal(h, word(0), VList::create, word(0)); }},
        {"same list", [&] { return equal(h, two, h, two); }},
        {"other flag", [&] { return !equal(h, cat({word(1), {0x01}, word(1)}), h, cat({word(1), {0x00}, word(1)})); }},
        {"int as ushort", [&] { uint16_t v = 99; return i->getUShort(&v) && v == 70000 % 65536; }},
        {"double as float", [&] { float v = 99; return d->getFloat(&v) && v == 0.5f; }},
        {"double as ushort", [&] { uint16_t v = 99; return !d->getUShort(&v) && v == 99; }},
        {"int as float", [&] { float v = 99; return !i->getFloat(&v) && v == 99; }},
        {"list as uchar", [&] { uint8_t v = 99; return !l->getUChar(&v) && v == 99; }},
        {"double as bool", [&] { bool v = true; return !d->getValue(&v) && v; }},
        {"int as h timing", [&] { cs_h_timingSpec v{false, 99}; return !i->getHTiming(0, &v) && v.value == 99; }},
        {"h list as v timing", [&] { cs_v_timingSpec v{false, 99}; return !l->getVTiming(0, &v) && v.value == 99; }},
        {"element 1", [&] { cs_h_timingSpec v{false, 99}; return l->getHTiming(1, &v) && v.flag && v.value == 2; }},
        {"element 2", [&] { cs_h_timingSpec v{false, 99}; return !l->getHTiming(2, &v) && v.value == 99; }},
        {"set at 0", [&] { return l->setHAt(0, {false, 5}) && items() == L"0 5, 1 2"; }},
        {"set at count", [&] { return l->setHAt(2, {false, 5}) && items() == L"1 1, 1 2, 0 5"; }},
        {"set at count + 1", [&] { return !l->setHAt(3, {false, 5}) && items() == L"1 1, 1 2"; }},
        {"set at -1", [&] { return !l->setHAt(-1, {false, 5}) && items() == L"1 1, 1 2"; }},
        {"set v at 0", [&] { return !l->setVAt(0, {false, 5}) && items() == L"1 1, 1 2"; }},
        {"remove 0", [&] { return l->removeAt(0) && items() == L"1 2"; }},
        {"remove count", [&] { return !l->removeAt(2) && items() == L"1 1, 1 2"; }},
        {"text of count", [&] { std::wstring t = L"x"; return !l->convertText(t, true, 2) && t == L"x"; }},
        {"an element is no list", [&] { return !i->setHAt(0, {true, 1}) && !i->removeAt(0); }},
    };
    for (const auto& r : rows) {
        l = loaded(HList::create, two);
        EXPECT_TRUE(r.second()) << r.first;
    }
}

// The vertical list's stored form: count, then flag and value per element.
TEST(CamCfgEntry, VerticalListArchive)
{
    const Bytes bytes = cat({word(2), {0x01}, dbl(1.5), {0x00}, dbl(-2.0)});
    Entry written = VList::create();
    written->appendV({true, 1.5});
    written->appendV({false, -2.0});
    EXPECT_EQ(stored(*written), bytes);
    EXPECT_TRUE(loaded(VList::create, bytes)->equals(*written));
}

// Out values start at 9; each check answers whether the getter behaved.
TEST(CamCfgStore, SetEntryGrowsAndGettersAnswerOnlyTheirType)
{
    cc_camCfgStore s;
    const Entry i = loaded(cc_CamConfigInt32::create, word(640));
    s.setEntry(10, i);
    s.setEntry(4, cc_CamConfigDouble::create());
    s.setEntry(2, loaded(cc_CamConfigDirection::create, word(0)));
    const std::function<bool()> checks[] = {
        [&] { int32_t v = 9; return s.get(10, &v) && v == 640; },
        [&] { double v = 9; return !s.get(10, &v) && v == 9; },
        [&] { double v = 9; return s.get(4, &v) && v == -1.0; },
        [&] { cc_ccfEnums::ce_direction v{9}; return s.get(2, &v) && v == 0; },
        [&] { cc_ccfEnums::ce_interface v{9}; return !s.get(2, &v) && v == 9; },
        [&] { int32_t v = 9; return !s.get(9, &v) && v == 9; },  // empty slot
        [&] { int32_t v = 9; return !s.get(11, &v) && v == 9; }, // beyond the vector
        [&] { bool v = true; return !s.get(0xFFFFFFFF, &v) && v; },
        [&] { return !s.entry(0) && !s.entry(9) && s.entry(10).rawPointer() == i.rawPointer(); },
    };
    for (size_t n = 0; n < std::size(checks); ++n)
        EXPECT_TRUE(checks[n]()) << n;
}

TEST(CamCfgStore, FindExtensionByExactName)
{
    struct Extension : cc_VidFormatExtension {
        using cc_VidFormatExtension::cc_VidFormatExtension;
    } a(L"cam A"), b(L"cam B"), a2(L"cam A");
    const std::vector<cc_VidFormatExtension*> list = {nullptr, &a, &b, &a2};
    EXPECT_TRUE(findExtension(L"cam A", list) == &a && findExtension(L"cam B", list) == &b);
    EXPECT_EQ(findExtension(L"cam a", list), nullptr);
}

} // namespace
