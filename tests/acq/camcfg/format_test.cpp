#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "acq/camcfg/ccfformat.h"
#include "acq/camcfg/parammap.h"
#include "acq/camcfg/storage.h"
#include "acq/vidfmt/startup.h"
#include "platform/text.h"
#include "tests/support/owned_format.h"

namespace {

typedef cc_CCFParameterMap Map;
typedef std::vector<std::wstring> Lines;

// A store made of the lines, numbered from 7 on.
ccPtrHandle<cc_camCfgStore> storeOf(const Lines& lines)
{
    ccPtrHandle<cc_camCfgStore> store(new cc_camCfgStore);
    int32_t number = 7;
    for (const std::wstring& line : lines)
        cf_parseCcfLine(*store, line, number++, nullptr);
    return store;
}

// Each error as "section/key/message".
Lines allErrors(const cc_camCfgStore& store)
{
    Lines all;
    for (const auto& section : store.errors())
        for (const auto& error : section.second)
            all.push_back(section.first + L"/" + error.first + L"/" + error.second);
    return all;
}

// The key's value as written back (empty: no entry) and the errors, by
// section and then in order.
TEST(ParseLine, SetsTheKeysEntryOrReportsAndSkipsTheLine)
{
    const struct { Lines lines; uint32_t key; const wchar_t* value; Lines errors; } rows[] = {
        {{L"format\twidth\t=\t640; comment", L"   ;  "}, Map::kWidth, L"640", {}},
        {{L"format width = 640", L"format width = 768"}, Map::kWidth, L"768", {}},
        {{L"formats width = 640", L"format widht = 640", L"format"}, Map::kWidth, L"",
         {L"format/widht/: Parse error on Line [8]: Mapping Error", L"format//: Parse error on Line [9]: Mapping Error",
          L"formats/width/: Parse error on Line [7]: Mapping Error"}},
        {{L"format video_interface = analog", L"format video_interface = Analog"}, Map::kVideoInterface, L"analog",
         {L"format/video_interface/: Parse error on Line [8]: Bad Enum Value"}},
    };
    for (const auto& r : rows) {
        const ccPtrHandle<cc_camCfgStore> store = storeOf(r.lines);
        std::wstring value;
        if (ccPtrHandle<cc_camCfgEntry> entry = store->entry(r.key))
            entry->convertText(value, true, 0);
        EXPECT_EQ(value, r.value) << r.lines.front();
        EXPECT_EQ(allErrors(*store), r.errors) << r.lines.front();
    }
    cc_camCfgStore store; // without a line number the report names none
    cf_parseCcfLine(store, L"format widht = 640", -1, nullptr);
    EXPECT_EQ(allErrors(store), Lines{L"format/widht/: Parse error: Mapping Error"});
}

// A format made from the lines (the name first); its storage.
ccPtrHandle<cc_vfStorage> formatOf(const Lines& lines)
{
    ccAcqVidfmtStartup();
    const ccPtrHandle<cc_camCfgStore> store = storeOf(lines);
    EXPECT_TRUE(cf_formatFromStore(*store));
    std::wstring name;
    EXPECT_TRUE(store->get(Map::kName, &name));
    return cc_vfStorageCache::find(name);
}

// The record (width, height, depth, interlaced, board-driven), which
// extension records are made (video, with the signal record, and camera
// link) and the default pel format.
TEST(FormatFromStore, FillsTheRecordTheExtensionRecordsAndWhetherTheBoardDrives)
{
    const struct { Lines lines; std::vector<int32_t> made; int32_t pelFormat; } rows[] = {
        {{L"format name = \"Plain 640x480\"", L"format width = 640", L"format height = 480",
          L"format bits_per_pel = 10", L"format interlace = 1"}, {640, 480, 10, 1, 1, 1, 0}, -1},
        {{L"format name = \"Aliased\"", L"format format_alias = \"Qoralt NullFormat\"",
          L"format video_interface = ieee1394"}, {-1, -1, -1, 0, 0, 0, 0}, -1},
        {{L"format name = \"Dcam\"", L"format video_interface = ieee1394", L"format hd_direction = in"},
         {-1, -1, -1, 0, 1, 1, 0}, -1},
        {{L"format name = \"Analog\"", L"format video_interface = analog"}, {-1, -1, -1, 0, 1, 1, 0}, -1},
        {{L"format name = \"Analog In\"", L"format video_interface = analog", L"format hd_direction = in"},
         {-1, -1, -1, 0, 0, 1, 0}, -1},
        {{L"format name = \"Digital Pll\"", L"format video_interface = digital_422", L"format pclk_source = pll"},
         {-1, -1, -1, 0, 0, 1, 0}, -1},
        {{L"format name = \"Linked\"", L"format video_interface = cameralink", L"camlink vfalias = \"Other\"",
          L"format peltype = RGBpacked"}, {-1, -1, -1, 0, 1, 1, 1}, 4},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.lines.front());
        const ccPtrHandle<cc_vfStorage> storage = formatOf(r.lines);
        const cc_VidFmtDesc& description = storage->format()->description(false);
        const cs_vidFmtRecord& made = *description.record();
        const cs_vidFmtExtensions own = storage->extensions();
        EXPECT_EQ((std::vector<int32_t>{made.width, made.height, made.depth, made.interlaced, made.boardDriven,
                                        own.videoInfo != nullptr, own.camLinkInfo != nullptr}),
                  r.made);
        EXPECT_TRUE(plat::utf16FromWide(storage->name()) == made.name && made.reducedSize == 0 && made.registered == 1);
        EXPECT_TRUE(own.cameraInfo && own.cameraInfo->fromFile && !own.signalInfo == !own.videoInfo);
        EXPECT_TRUE(description.videoInfo() == own.videoInfo && description.signalInfo() == own.signalInfo
                    && description.camLinkInfo() == own.camLinkInfo && description.defaultModuleCode() == -1);
        EXPECT_TRUE(!own.videoInfo || storage->format()->defaultPelFormat() == r.pelFormat);
        EXPECT_TRUE(!own.camLinkInfo || own.camLinkInfo->alias == L"Other");
    }
    EXPECT_FALSE(cf_formatFromStore(*storeOf({L"format width = 640"})));
    EXPECT_FALSE(cf_formatFromStore(*storeOf({L"format name = \"\""})));
    EXPECT_FALSE(cc_vfStorageCache::find(L""));
}

TEST(FormatFromStore, RecordsTakeTheFilesValuesAndKeepTheirDefaultsElsewhere)
{
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

// Whichever of a module's format and a file's format of one name is made
// first or goes first, the other still reads its own camera information.
TEST(FormatFromStore, AFileFormatAndAModuleFormatOfOneNameKeepTheirOwnCameraInformation)
{
    const Lines file = {L"format name = \"Shared 640x480\"", L"format camera_manufacturer = \"FileMaker\""};
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
    EXPECT_EQ(std::wstring(formatOf({L"format name = \"Sony XC75 640x480\"", L"format camera_model = \"X\""})
                               ->format()->cameraModel()), L"XC-75");
}

} // namespace
