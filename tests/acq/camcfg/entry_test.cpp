#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "acq/camcfg/entry.h"
#include "acq/camcfg/strhelper.h"
#include "tests/support/stored.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;
using test_bytes::codeOf;
using test_bytes::dbl;
using test_bytes::le;

typedef ccPtrHandle<cc_camCfgEntry> Entry;
typedef Entry (*Factory)();

const uint32_t kBadType = cc_camCfgEntry::BadType::kCode;

// The entry's archive, behind the archive header.
Bytes stored(cc_camCfgEntry& e)
{
    Bytes all = test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { e.archive(ar); });
    return Bytes(all.begin() + 2, all.end());
}

void load(cc_camCfgEntry& e, const Bytes& body)
{
    test_bytes::load(cat({{0x02, 0x01}, body}), [&](ccArchive& ar) { e.archive(ar); });
}

std::wstring text(cc_camCfgEntry& e, int32_t index = 0)
{
    std::wstring t;
    e.convertText(t, true, index);
    return t;
}

Bytes word(int32_t v) { return le(static_cast<uint32_t>(v), 4); }

// Every factory makes its construction value; every enumeration reads each
// name of its table to its index and writes it back, and the index one past
// the table names nothing.
TEST(CamCfgEntry, ConstructionValuesAndNameTables)
{
    struct Row {
        Factory create;
        Bytes archived;
        const wchar_t* names; // blank-separated, in index order
    } rows[] = {
        {cc_CamConfigVidInterface::create, word(5), L"analog digital_422 digital_644 ieee1394 cameralink"},
        {cc_CamConfigVidEncode::create, word(7), L"mono PAL NTSC SVHS RGB YUV RAW"},
        {cc_CamConfigPelType::create, word(-1), L"mono RGBpacked RGBplanar UYVY RAW8 UYYVYY UYV RGB24 RGBpacked16 "
                                                L"mono16 RAW16 RGB48 mono10 mono12 mono16bigendian BGR24"},
        {cc_CamConfigInterleave::create, word(4), L"RGB pixel line leftright"},
        {cc_CamConfigColorPlaneOrder::create, word(0),
         L"red_green_blue red_blue_green green_red_blue green_blue_red blue_red_green blue_green_red"},
        {cc_CamConfigHdSignal::create, word(4), L"hd hsync csync ctrl1"},
        {cc_CamConfigVdSignal::create, word(4), L"vd vsync ctrl1 ctrl2"},
        {cc_CamConfigSigReference::create, word(3), L"none sync_separator external"},
        {cc_CamConfigRefType::create, word(2), L"drive sync"},
        {cc_CamConfigPclkSource::create, word(3), L"oscillator pll external"},
        {cc_CamConfigDirection::create, word(3), L"in out unused"},
        {cc_CamConfigInterface::create, word(3), L"ttl rs422 eia644"},
        {cc_CamConfigShutterMode::create, word(5),
         L"none pulse_width_adjust_leading pulse_width_adjust_trailing pulse_position variable_total"},
        {cc_CamConfigShutterGranularity::create, word(2), L"pel line"},
        {cc_CamConfigShutterLine::create, word(3), L"vd ctrl1 ctrl2"},
        {cc_CamConfigStrobeMode::create, word(4), L"trigger fixed pulse_position none"},
        {cc_CamConfigPolarity::create, word(2), L"active_low active_high"},
        {cc_CamConfigInt32::create, word(-1), L""},
        {cc_CamConfigDouble::create, dbl(-1.0), L""},
        {cc_CamConfigBool::create, {0x01}, L""},
        {cc_CamConfigString::create, {0x00, 0xFF, 0xFE, 0xFF, 0xFE}, L""}, // empty
        {cc_camCfgList<cs_h_timingSpec>::create, word(0), L""},
        {cc_camCfgList<cs_v_timingSpec>::create, word(0), L""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(stored(*r.create()), r.archived) << r.names;
        std::wistringstream names(r.names);
        std::wstring name;
        int32_t index = 0;
        for (; names >> name; ++index) {
            Entry e = r.create();
            std::wstring line = name + L" ; rest";
            EXPECT_TRUE(e->convertText(line, false, 0)) << name;
            EXPECT_EQ(line, L" ; rest");
            EXPECT_EQ(stored(*e), word(index)) << name;
            EXPECT_EQ(text(*e), name);
        }
        if (index > 0) {
            Entry e = r.create();
            load(*e, word(index));
            EXPECT_EQ(text(*e), L"") << r.names;
        }
    }
}

// Reading a value from text: names are exact and case-sensitive; an unknown
// one leaves the value and answers false; bad numbers throw and keep it.
TEST(CamCfgEntry, ReadsItsValueFromText)
{
    struct Row {
        Factory create;
        std::wstring input;
        uint32_t code; // thrown, 0 for none
        bool result;
        std::wstring value; // as written back
        std::wstring rest;
    } rows[] = {
        {cc_CamConfigVidInterface::create, L"cameralink", 0, true, L"cameralink", L""},
        {cc_CamConfigVidInterface::create, L"Cameralink", 0, false, L"", L""},
        {cc_CamConfigColorPlaneOrder::create, L"RED_GREEN_BLUE x", 0, false, L"red_green_blue", L" x"},
        {cc_CamConfigInt32::create, L"640; note", 0, true, L"640", L"; note"},
        {cc_CamConfigInt32::create, L"wide", 0x10005A04u, false, L"-1", L""},
        {cc_CamConfigDouble::create, L"12.5", 0, true, L"12.5", L""},
        {cc_CamConfigBool::create, L"0", 0, true, L"0", L""},
        {cc_CamConfigString::create, L"\"a b\" c", 0, true, L"\"a b\"", L" c"},
        {cc_camCfgList<cs_h_timingSpec>::create, L"1 -25", 0, true, L"1 -25", L""},
        {cc_camCfgList<cs_v_timingSpec>::create, L"0 2.5", 0, true, L"0 2.5", L""},
        // A value missing after the flag appends nothing.
        {cc_camCfgList<cs_v_timingSpec>::create, L"1", 0x10005A09u, false, L"", L""},
    };
    for (const Row& r : rows) {
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

// A setter or append of another type raises BadType and leaves the entry as
// it was (the pointer is never read as the entry's own type).
TEST(CamCfgEntry, SettersOfAnotherTypeRaiseBadType)
{
    const int32_t i = 7;
    const double d = 2.5;
    const bool b = false;
    const auto pel = static_cast<ce_pelType>(1);
    const auto order = static_cast<ce_colorPlaneOrder>(1);
    struct Row {
        Factory create;
        std::function<void(cc_camCfgEntry&)> set;
        uint32_t code;
        std::wstring after;
    } rows[] = {
        {cc_CamConfigDouble::create, [&](cc_camCfgEntry& e) { e.setValue(&i); }, kBadType, L"-1"},
        {cc_CamConfigInt32::create, [&](cc_camCfgEntry& e) { e.setValue(&d); }, kBadType, L"-1"},
        {cc_CamConfigString::create, [&](cc_camCfgEntry& e) { e.setValue(&b); }, kBadType, L"\"\""},
        {cc_CamConfigPelType::create, [&](cc_camCfgEntry& e) { e.setValue(&order); }, kBadType, L""},
        {cc_camCfgList<cs_h_timingSpec>::create, [&](cc_camCfgEntry& e) { e.setValue(&i); }, kBadType, L""},
        {cc_camCfgList<cs_h_timingSpec>::create, [&](cc_camCfgEntry& e) { e.appendV({true, 1.0}); }, kBadType, L""},
        {cc_camCfgList<cs_v_timingSpec>::create, [&](cc_camCfgEntry& e) { e.appendH({true, 1}); }, kBadType, L""},
        {cc_CamConfigInt32::create, [&](cc_camCfgEntry& e) { e.appendH({true, 1}); }, kBadType, L"-1"},
        // Its own type.
        {cc_CamConfigDouble::create, [&](cc_camCfgEntry& e) { e.setValue(&d); }, 0, L"2.5"},
        {cc_CamConfigPelType::create, [&](cc_camCfgEntry& e) { e.setValue(&pel); }, 0, L"RGBpacked"},
        {cc_camCfgList<cs_h_timingSpec>::create, [&](cc_camCfgEntry& e) { e.appendH({true, 9}); }, 0, L"1 9"},
        {cc_camCfgList<cs_v_timingSpec>::create, [&](cc_camCfgEntry& e) { e.appendV({false, 0.5}); }, 0, L"0 500e-3"},
    };
    for (size_t n = 0; n < std::size(rows); ++n) {
        SCOPED_TRACE(n);
        Entry e = rows[n].create();
        EXPECT_EQ(codeOf([&] { rows[n].set(*e); }), rows[n].code);
        EXPECT_EQ(text(*e), rows[n].after);
    }
}

// Getters answer only for their own type; the narrowing ones read through
// the Int32 or Double getter and leave their out value alone on any other
// entry.
TEST(CamCfgEntry, GettersOfAnotherTypeLeaveTheirOutValue)
{
    Entry i = cc_CamConfigInt32::create(), d = cc_CamConfigDouble::create(), l = cc_camCfgList<cs_h_timingSpec>::create();
    const int32_t big = 70000;
    const double half = 0.5;
    i->setValue(&big);
    d->setValue(&half);
    l->appendH({true, 3});

    // Each check answers whether the getter behaved.
    struct Row {
        const char* what;
        std::function<bool()> check;
    } rows[] = {
        {"int as ushort", [&] { uint16_t v = 99; return i->getUShort(&v) && v == 70000 % 65536; }},
        {"double as float", [&] { float v = 99; return d->getFloat(&v) && v == 0.5f; }},
        {"double as ushort", [&] { uint16_t v = 99; return !d->getUShort(&v) && v == 99; }},
        {"int as float", [&] { float v = 99; return !i->getFloat(&v) && v == 99; }},
        {"list as uchar", [&] { uint8_t v = 99; return !l->getUChar(&v) && v == 99; }},
        {"double as bool", [&] { bool v = true; return !d->getValue(&v) && v; }},
        {"int as h timing", [&] { cs_h_timingSpec v{false, 99}; return !i->getHTiming(0, &v) && v.value == 99; }},
        {"h list as v timing", [&] { cs_v_timingSpec v{false, 99}; return !l->getVTiming(0, &v) && v.value == 99; }},
        {"h list element 0", [&] { cs_h_timingSpec v{false, 99}; return l->getHTiming(0, &v) && v.flag && v.value == 3; }},
        // Outside the list, nothing is read.
        {"h list element 1", [&] { cs_h_timingSpec v{false, 99}; return !l->getHTiming(1, &v) && v.value == 99; }},
    };
    for (const auto& r : rows)
        EXPECT_TRUE(r.check()) << r.what;
}

// Editing a list: set-at replaces inside, appends at the count, refuses
// beyond; removal inside only; text of an element outside is refused.
TEST(CamCfgEntry, ListEditing)
{
    struct Row {
        const char* what;
        std::function<bool(cc_camCfgEntry&)> edit;
        bool result;
        std::wstring items; // the elements afterwards, "flag value" each, ", " between
    } rows[] = {
        {"set at 0", [](cc_camCfgEntry& e) { return e.setHAt(0, {false, 5}); }, true, L"0 5, 1 2"},
        {"set at count", [](cc_camCfgEntry& e) { return e.setHAt(2, {false, 5}); }, true, L"1 1, 1 2, 0 5"},
        {"set at count + 1", [](cc_camCfgEntry& e) { return e.setHAt(3, {false, 5}); }, false, L"1 1, 1 2"},
        {"set at -1", [](cc_camCfgEntry& e) { return e.setHAt(-1, {false, 5}); }, false, L"1 1, 1 2"},
        {"set v at 0", [](cc_camCfgEntry& e) { return e.setVAt(0, {false, 5}); }, false, L"1 1, 1 2"},
        {"remove 0", [](cc_camCfgEntry& e) { return e.removeAt(0); }, true, L"1 2"},
        {"remove count", [](cc_camCfgEntry& e) { return e.removeAt(2); }, false, L"1 1, 1 2"},
        {"text of count", [](cc_camCfgEntry& e) { std::wstring t = L"x"; return e.convertText(t, true, 2) || t != L"x"; },
         false, L"1 1, 1 2"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Entry e = cc_camCfgList<cs_h_timingSpec>::create();
        e->appendH({true, 1});
        e->appendH({true, 2});
        EXPECT_EQ(r.edit(*e), r.result);
        std::wstring items;
        for (int32_t n = 0; n < e->count(); ++n)
            items += (n ? L", " : L"") + text(*e, n);
        EXPECT_EQ(items, r.items);
    }
    Entry element = cc_CamConfigInt32::create();
    EXPECT_FALSE(element->setHAt(0, {true, 1}));
    EXPECT_FALSE(element->removeAt(0));
}

// The vertical list's stored form: count, then flag and value per element.
TEST(CamCfgEntry, VerticalListArchive)
{
    const Bytes bytes = cat({word(2), {0x01}, dbl(1.5), {0x00}, dbl(-2.0)});
    Entry written = cc_camCfgList<cs_v_timingSpec>::create();
    written->appendV({true, 1.5});
    written->appendV({false, -2.0});
    EXPECT_EQ(stored(*written), bytes);

    Entry read = cc_camCfgList<cs_v_timingSpec>::create();
    load(*read, bytes);
    EXPECT_TRUE(read->equals(*written));
}

// Damaged archives: a huge count meets the end of the input (no allocation
// from the count, nothing appended); an enumeration index outside its table
// loads but formats as nothing.
TEST(CamCfgEntry, DamagedArchives)
{
    struct Row {
        Factory create;
        Bytes body;
        uint32_t code;
        std::wstring text;
    } rows[] = {
        {cc_camCfgList<cs_v_timingSpec>::create, cat({word(-1), {0x01}, dbl(1.5)}), ccArchive::Eof::kCode, L""},
        {cc_camCfgList<cs_h_timingSpec>::create, cat({word(1), {0x01}, word(4)}), 0, L"1 4"},
        {cc_CamConfigPolarity::create, word(-5), 0, L""},
        {cc_CamConfigPelType::create, word(0x7FFFFFFF), 0, L""},
        {cc_CamConfigInt32::create, {0x01, 0x00}, ccArchive::Eof::kCode, L"-1"},
    };
    for (size_t n = 0; n < std::size(rows); ++n) {
        SCOPED_TRACE(n);
        Entry e = rows[n].create();
        EXPECT_EQ(codeOf([&] { load(*e, rows[n].body); }), rows[n].code);
        EXPECT_EQ(text(*e), rows[n].text);
    }
}

TEST(CamCfgEntry, EqualsComparesClassAndValue)
{
    auto withInt = [](Factory f, int32_t v) {
        Entry e = f();
        load(*e, word(v));
        return e;
    };
    auto hList = [](std::vector<cs_h_timingSpec> items) {
        Entry e = cc_camCfgList<cs_h_timingSpec>::create();
        for (const auto& s : items)
            e->appendH(s);
        return e;
    };
    struct Row {
        const char* what;
        Entry a, b;
        bool equal;
    } rows[] = {
        {"same int", withInt(cc_CamConfigInt32::create, 4), withInt(cc_CamConfigInt32::create, 4), true},
        {"other int", withInt(cc_CamConfigInt32::create, 4), withInt(cc_CamConfigInt32::create, 5), false},
        {"int and double", cc_CamConfigInt32::create(), cc_CamConfigDouble::create(), false},
        {"two enumerations, one index", withInt(cc_CamConfigHdSignal::create, 1),
         withInt(cc_CamConfigVdSignal::create, 1), false},
        {"empty lists of two kinds", hList({}), cc_camCfgList<cs_v_timingSpec>::create(), false},
        {"same list", hList({{true, 1}, {false, 2}}), hList({{true, 1}, {false, 2}}), true},
        {"other flag", hList({{true, 1}, {false, 2}}), hList({{true, 1}, {true, 2}}), false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.a->equals(*r.b), r.equal);
        EXPECT_EQ(r.b->equals(*r.a), r.equal);
    }
}

TEST(CamCfgStore, SetEntryGrowsAndGettersAnswerOnlyTheirType)
{
    cc_camCfgStore store;
    Entry i = cc_CamConfigInt32::create(), d = cc_CamConfigDouble::create(), dir = cc_CamConfigDirection::create();
    const int32_t w = 640;
    const auto in = static_cast<cc_ccfEnums::ce_direction>(0);
    i->setValue(&w);
    dir->setValue(&in);
    store.setEntry(10, i);
    store.setEntry(4, d);
    store.setEntry(2, dir);

    // Each check answers whether the getter behaved; out values start at 9.
    const std::function<bool()> checks[] = {
        [&] { int32_t v = 9; return store.get(10, &v) && v == 640; },
        [&] { double v = 9; return !store.get(10, &v) && v == 9; },
        [&] { int32_t v = 9; return !store.get(4, &v) && v == 9; },
        [&] { double v = 9; return store.get(4, &v) && v == -1.0; },
        [&] { cc_ccfEnums::ce_direction v{9}; return store.get(2, &v) && v == 0; },
        [&] { cc_ccfEnums::ce_interface v{9}; return !store.get(2, &v) && v == 9; },
        [&] { int32_t v = 9; return !store.get(2, &v) && v == 9; },
        [&] { int32_t v = 9; return !store.get(9, &v) && v == 9; },  // empty slot
        [&] { int32_t v = 9; return !store.get(11, &v) && v == 9; }, // beyond the vector
        [&] { bool v = true; return !store.get(0xFFFFFFFF, &v) && v; },
    };
    for (size_t n = 0; n < std::size(checks); ++n)
        EXPECT_TRUE(checks[n]()) << n;
    // Keys 0 to 9 stay empty.
    cc_camCfgStore grown;
    grown.setEntry(10, i);
    for (uint32_t key = 0; key < 10; ++key)
        EXPECT_FALSE(grown.entry(key)) << key;
    EXPECT_EQ(grown.entry(10).rawPointer(), i.rawPointer());
}

TEST(CamCfgStore, ErrorsKeepTheirOrderBySection)
{
    cc_camCfgStore store;
    store.addError(L"format", L"widht", L"first");
    store.addError(L"ccf_checksum", L"", L"sum");
    store.addError(L"format", L"heigth", L"second");
    const std::map<std::wstring, cc_camCfgStore::ErrorList> expected = {
        {L"ccf_checksum", {{L"", L"sum"}}},
        {L"format", {{L"widht", L"first"}, {L"heigth", L"second"}}},
    };
    EXPECT_EQ(store.errors(), expected);
}

TEST(CamCfgStore, FindExtensionByExactName)
{
    struct Extension : cc_VidFormatExtension {
        using cc_VidFormatExtension::cc_VidFormatExtension;
    } a(L"cam A"), b(L"cam B"), a2(L"cam A");
    const std::vector<cc_VidFormatExtension*> list = {nullptr, &a, &b, &a2};
    EXPECT_EQ(findExtension(L"cam A", list), &a);
    EXPECT_EQ(findExtension(L"cam B", list), &b);
    EXPECT_EQ(findExtension(L"cam a", list), nullptr);
}

} // namespace
