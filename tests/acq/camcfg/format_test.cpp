#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "acq/camcfg/ccfformat.h"
#include "acq/camcfg/parammap.h"
#include "acq/camcfg/storage.h"
#include "acq/camcfg/strhelper.h"
#include "acq/vidfmt/startup.h"
#include "platform/text.h"
#include "tests/support/owned_format.h"

namespace {

typedef cc_CCFParameterMap Map;

// A store made of the lines, numbered from 7 on.
ccPtrHandle<cc_camCfgStore> storeOf(const std::vector<std::wstring>& lines)
{
    ccPtrHandle<cc_camCfgStore> store(new cc_camCfgStore);
    int32_t number = 7;
    for (const std::wstring& line : lines)
        cf_parseCcfLine(*store, line, number++, nullptr);
    return store;
}

// The entry's value as the file would write it; empty without an entry.
std::wstring textOf(const cc_camCfgStore& store, uint32_t key)
{
    std::wstring text;
    if (ccPtrHandle<cc_camCfgEntry> entry = store.entry(key))
        entry->convertText(text, true, 0);
    return text;
}

std::vector<std::wstring> allErrors(const cc_camCfgStore& store)
{
    std::vector<std::wstring> all;
    for (const auto& section : store.errors())
        for (const auto& error : section.second)
            all.push_back(section.first + L"/" + error.first + L"/" + error.second);
    return all;
}

TEST(ParameterMap, EveryRowIsFoundByItsSectionAndKeyAndMakesAnEntry)
{
    const std::vector<Map::Row>& rows = Map::rows();
    ASSERT_EQ(rows.size(), Map::kRowCount);
    for (uint32_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].index, i);
        EXPECT_EQ(Map::find(rows[i].section, rows[i].key), &rows[i]);
        EXPECT_TRUE(rows[i].factory());
    }
    EXPECT_EQ(Map::find(L"ccf", L"version")->index, Map::kCcfVersion);
    EXPECT_EQ(Map::find(L"vs", L"version")->index, Map::kVsVersion);
    EXPECT_EQ(Map::find(L"Format", L"width"), nullptr);
    EXPECT_EQ(Map::find(L"format", L"vfalias"), nullptr);
}

TEST(ParseLine, SetsTheKeysEntryOrReportsAndSkipsTheLine)
{
    const struct {
        std::vector<std::wstring> lines;
        uint32_t key;
        const wchar_t* value; // as written back; empty: no entry
        std::vector<std::wstring> errors;
    } rows[] = {
        {{L"format width = 640"}, Map::kWidth, L"640", {}},
        {{L"format\twidth\t=\t640; comment"}, Map::kWidth, L"640", {}},
        {{L"format width = 640", L"format width = 768"}, Map::kWidth, L"768", {}},
        {{L"format name = \"My Cam 640x480\""}, Map::kName, L"\"My Cam 640x480\"", {}},
        {{L"format video_interface = cameralink"}, Map::kVideoInterface, L"cameralink", {}},
        {{L"   ;  "}, Map::kWidth, L"", {}},
        {{L"format widht = 640"}, Map::kWidth, L"", {L"format/widht/: Parse error on Line [7]: Mapping Error"}},
        {{L"formats width = 640", L"format"},
         Map::kWidth,
         L"",
         {L"format//: Parse error on Line [8]: Mapping Error",
          L"formats/width/: Parse error on Line [7]: Mapping Error"}},
        {{L"format video_interface = Cameralink"},
         Map::kVideoInterface,
         L"",
         {L"format/video_interface/: Parse error on Line [7]: Bad Enum Value"}},
        {{L"format video_interface = analog", L"format video_interface = firewire"},
         Map::kVideoInterface,
         L"analog",
         {L"format/video_interface/: Parse error on Line [8]: Bad Enum Value"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.lines.front());
        const ccPtrHandle<cc_camCfgStore> store = storeOf(r.lines);
        EXPECT_EQ(textOf(*store, r.key), r.value);
        EXPECT_EQ(allErrors(*store), r.errors);
    }
}

TEST(ParseLine, WithoutLineNumberTheReportNamesNone)
{
    cc_camCfgStore store;
    cf_parseCcfLine(store, L"format widht = 640", -1, nullptr);
    EXPECT_EQ(allErrors(store), std::vector<std::wstring>{L"format/widht/: Parse error: Mapping Error"});
}

TEST(ParseLine, AMissingEqualsSignOrABadValueLeavesAndStoresNothing)
{
    cc_camCfgStore store;
    EXPECT_THROW(cf_parseCcfLine(store, L"format width 640", 3, nullptr), cc_AcqStringHelper::EqualsNotFound);
    EXPECT_THROW(cf_parseCcfLine(store, L"format name = My Cam", 4, nullptr), cc_AcqStringHelper::BadVal);
    EXPECT_FALSE(store.entry(Map::kWidth) || store.entry(Map::kName));
    EXPECT_TRUE(store.errors().empty());
}

TEST(ParseLine, AKeyGivenTwiceKeepsBothComments)
{
    cc_camCfgStore store;
    const std::wstring first = L" the first", second = L" the second";
    cf_parseCcfLine(store, L"format width = 640", 1, &first);
    cf_parseCcfLine(store, L"format width = 768", 2, &second);
    cf_parseCcfLine(store, L"format width = 800", 3, nullptr);
    EXPECT_EQ(store.entry(Map::kWidth)->comment(), first + second);
}

// A format made from the lines (the name first); its storage.
ccPtrHandle<cc_vfStorage> formatOf(const std::vector<std::wstring>& lines)
{
    const ccPtrHandle<cc_camCfgStore> store = storeOf(lines);
    EXPECT_TRUE(cf_formatFromStore(*store));
    std::wstring name;
    EXPECT_TRUE(store->get(Map::kName, &name));
    return cc_vfStorageCache::find(name);
}

TEST(FormatFromStore, FillsTheRecordTheExtensionRecordsAndWhetherTheBoardDrives)
{
    ccAcqVidfmtStartup();
    const struct {
        std::vector<std::wstring> lines; // the name first
        cs_vidFmtRecord record;          // name not compared
        bool video, camLink;             // records made (the signal record with the video one)
        int32_t pelFormat;
    } rows[] = {
        {{L"format name = \"Plain 640x480\"", L"format width = 640", L"format height = 480",
          L"format bits_per_pel = 10", L"format interlace = 1"},
         {nullptr, 640, 480, 10, 1, 0, 1, 1}, true, false, -1},
        {{L"format name = \"Aliased\"", L"format format_alias = \"Qoralt NullFormat\"",
          L"format video_interface = ieee1394"},
         {nullptr, -1, -1, -1, 0, 0, 1, 0}, false, false, -1},
        {{L"format name = \"Dcam\"", L"format video_interface = ieee1394", L"format hd_direction = in"},
         {nullptr, -1, -1, -1, 0, 0, 1, 1}, true, false, -1},
        {{L"format name = \"Analog\"", L"format video_interface = analog"}, {nullptr, -1, -1, -1, 0, 0, 1, 1}, true,
         false, -1},
        {{L"format name = \"Analog In\"", L"format video_interface = analog", L"format hd_direction = in"},
         {nullptr, -1, -1, -1, 0, 0, 1, 0}, true, false, -1},
        {{L"format name = \"Digital Pll\"", L"format video_interface = digital_422", L"format pclk_source = pll"},
         {nullptr, -1, -1, -1, 0, 0, 1, 0}, true, false, -1},
        {{L"format name = \"Linked\"", L"format video_interface = cameralink", L"camlink vfalias = \"Other\"",
          L"format peltype = RGBpacked"},
         {nullptr, -1, -1, -1, 0, 0, 1, 1}, true, true, 4},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.lines.front());
        const ccPtrHandle<cc_vfStorage> held = formatOf(r.lines);
        const cc_vfStorage& storage = *held;
        const cs_vidFmtRecord& made = *storage.format()->description(false).record();
        EXPECT_EQ(plat::utf16FromWide(storage.name()), made.name);
        EXPECT_TRUE(made.width == r.record.width && made.height == r.record.height && made.depth == r.record.depth);
        EXPECT_TRUE(made.interlaced == r.record.interlaced && made.reducedSize == 0 && made.registered == 1);
        EXPECT_EQ(made.boardDriven, r.record.boardDriven);
        const cs_vidFmtExtensions own = storage.extensions();
        EXPECT_TRUE(own.cameraInfo && own.cameraInfo->fromFile);
        EXPECT_EQ(own.videoInfo != nullptr, r.video);
        EXPECT_EQ(own.signalInfo != nullptr, r.video);
        EXPECT_EQ(own.camLinkInfo != nullptr, r.camLink);
        const cc_VidFmtDesc& description = storage.format()->description(false);
        EXPECT_TRUE(description.videoInfo() == own.videoInfo && description.signalInfo() == own.signalInfo
                    && description.camLinkInfo() == own.camLinkInfo && description.defaultModuleCode() == -1);
        if (r.video) {
            EXPECT_EQ(storage.format()->defaultPelFormat(), r.pelFormat);
        }
        if (r.camLink) {
            EXPECT_EQ(own.camLinkInfo->alias, L"Other");
        }
    }
    EXPECT_FALSE(cf_formatFromStore(*storeOf({L"format width = 640"})));
    EXPECT_FALSE(cf_formatFromStore(*storeOf({L"format name = \"\""})));
    EXPECT_FALSE(cc_vfStorageCache::find(L""));
}

TEST(FormatFromStore, RecordsTakeTheFilesValuesAndKeepTheirDefaultsElsewhere)
{
    ccAcqVidfmtStartup();
    const ccPtrHandle<cc_vfStorage> storage = formatOf({
        L"format name = \"Valued Cam 1024x768 (rapid-reset)\"", L"format camera_model = \"VC-1\"",
        L"format format_options = \"\"", L"format pclk_frequency = 40.5", L"format shutter_mode = pulse_position",
        L"ccf version = 2.5", L"format vd_direction = unused", L"format vlock_position = 3.25",
        L"format rapid_reset_min_position = -5", L"format origin_in_field0 = 0",
        L"format color_plane_order = blue_green_red",
    });
    const cs_vidFmtExtensions own = storage->extensions();
    const cc_VidFmtCameraInfo& camera = *own.cameraInfo;
    EXPECT_TRUE(camera.manufacturer == L"Valued" && camera.model == L"VC-1" && camera.resolution == L"1024x768");
    EXPECT_TRUE(camera.options.empty() && camera.alias.empty());
    const cc_VidFmtVideoInfo& video = *own.videoInfo;
    EXPECT_TRUE(video.pclkFrequency == 40.5 && video.shutterMode == 3 && video.fileVersion == 2.5);
    EXPECT_TRUE(video.videoInterface == 5 && video.pelType == -1 && video.htotal == -1 && video.strobeMode == 4);
    const cc_VidFmtSignalInfo& signal = *own.signalInfo;
    EXPECT_TRUE(signal.vdDirection == 2 && signal.vlockPosition == 3.25 && signal.rapidResetMinPosition == -5);
    EXPECT_TRUE(!signal.originInField0 && signal.colorPlaneOrder == 5);
    EXPECT_TRUE(signal.hdDirection == 1 && signal.aoiPerField == 1 && signal.initAcqCount == 1 && !signal.rapidReset);
}

TEST(FormatFromStore, ALaterFileOfTheNameReplacesTheFormatAndItsRecords)
{
    ccAcqVidfmtStartup();
    const std::wstring name = L"Twice Cam 640x480";
    formatOf({L"format name = \"Twice Cam 640x480\"", L"format width = 640"});
    const ccPtrHandle<cc_vfStorage> later = formatOf({L"format name = \"Twice Cam 640x480\"", L"format width = 768"});
    const std::vector<ccVideoFormat*> all = ccVideoFormat::allFormats();
    const std::vector<ccStdVideoFormat*> standard = ccVideoFormat::allStdFormats();
    const auto named = [](const ccVideoFormat* f) { return f->name() == std::u16string(u"Twice Cam 640x480"); };
    EXPECT_EQ(std::count_if(all.begin(), all.end(), named), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), later->format()), 1);
    EXPECT_EQ(std::count(standard.begin(), standard.end(), later->format()), 1);
    EXPECT_EQ(later->format()->description(false).record()->width, 768);
    EXPECT_EQ(cc_VidFmtCameraInfo::find(name), later->extensions().cameraInfo);
    EXPECT_EQ(cc_VidFmtVideoInfo::find(name), later->extensions().videoInfo);
    EXPECT_EQ(cc_VidFmtSignalInfo::find(name), later->extensions().signalInfo);
}

// Whichever of a module's format and a file's format of one name is made
// first or goes first, the other still reads its own camera information.
TEST(FormatFromStore, AFileFormatAndAModuleFormatOfOneNameKeepTheirOwnCameraInformation)
{
    ccAcqVidfmtStartup();
    const std::vector<std::wstring> file = {L"format name = \"Shared 640x480\"",
                                            L"format camera_manufacturer = \"FileMaker\""};
    for (bool moduleFirst : {true, false}) {
        SCOPED_TRACE(moduleFirst);
        std::unique_ptr<test_acq::OwnedFormat> module; // as the driver-module bridge makes one
        if (moduleFirst)
            module = std::make_unique<test_acq::OwnedFormat>(u"Shared 640x480");
        const ccVideoFormat* fromFile = formatOf(file)->format();
        if (!moduleFirst)
            module = std::make_unique<test_acq::OwnedFormat>(u"Shared 640x480");
        EXPECT_EQ(std::wstring(fromFile->cameraManufacturer()), L"FileMaker");
        EXPECT_EQ(std::wstring(module->format.cameraManufacturer()), L"Shared");
        if (moduleFirst) {
            module.reset();
            EXPECT_EQ(std::wstring(fromFile->cameraManufacturer()), L"FileMaker");
        } else {
            formatOf({file.front()}); // the first file's storage goes
            EXPECT_EQ(std::wstring(module->format.cameraManufacturer()), L"Shared");
        }
    }
    // Under a built-in name the built-in camera information stays.
    const ccPtrHandle<cc_vfStorage> builtInName =
        formatOf({L"format name = \"Sony XC75 640x480\"", L"format camera_model = \"X\""});
    EXPECT_EQ(std::wstring(builtInName->format()->cameraModel()), L"XC-75");
}

} // namespace
