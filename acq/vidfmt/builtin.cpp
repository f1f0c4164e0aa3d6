#include "acq/vidfmt/builtin.h"

#include <mutex>
#include <string>

#include "acq/vidfmt/internal/lookup.h"

namespace {

// One format of the table: its record, whether its camera information is
// parsed from the name, the camera strings then set (null: left as they
// are) and the default module code.
struct Row {
    cs_vidFmtRecord record;
    bool parse;
    const wchar_t* manufacturer;
    const wchar_t* model;
    const wchar_t* resolution;
    const wchar_t* options;
    int32_t defaultModuleCode;
};

constexpr uint8_t I = 1, R = 1, B = 1;
const wchar_t* const kRapid = L"rapid-reset, shutter-sw-SDONPISHA";

const Row kRows[] = {
    {{u"Sony XC75 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, L"XC-75", nullptr, nullptr, -1},
    {{u"Sony XC-ST50 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Pulnix TM7EX 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sentech STC-R640CC-FA 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Toshiba IK-M41MA 320x240", 320, 240, 8, I, R, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Pulnix TMC-7DSP 632x480", 632, 480, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Jai CV-M90 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Reserve Camera Format #4", 640, 480, 8, I, 0, 1, B}, false, L"Reserved", L"Format #4", L"640x480", nullptr, -1},
    {{u"Reserve Camera Format #3", 760, 574, 8, I, 0, 1, B}, false, L"Reserved", L"Format #3", L"760x574", nullptr, -1},
    {{u"Sony XC7500 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, L"XC-7500", nullptr, L"rapid-reset", -1},
    {{u"Sony DXC-390 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC-003P 760x574", 760, 574, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC-003 640x480", 640, 480, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Test LS 8192x7424", 8192, 7424, 8, 0, 0, 1, B}, false, L"Qoralt", L"Test LS", L"8192x7424", nullptr, -1},
    {{u"Test LS 4096x4096", 4096, 4096, 8, 0, 0, 1, B}, false, L"Qoralt", L"Test LS", L"4096x4096", nullptr, -1},
    {{u"NED LS FTH 2048", 2048, 2048, 8, 0, 0, 1, 0}, false, L"NED", L"LS FTH", L"2048x2048", nullptr, -1},
    {{u"Mitsubishi DLS SCD 2048x2048", 2048, 2048, 8, 0, 0, 1, 0}, false, L"Mitsubishi", L"DLS SCD", L"2048x2048",
     nullptr, -1},
    {{u"Mitsubishi LS SCD 2048", 2048, 2048, 8, 0, 0, 1, 0}, false, L"Mitsubishi", L"LS SCD", L"2048x2048", nullptr,
     -1},
    {{u"Dalsa DLS SP-11 2048x2048", 2048, 2048, 8, 0, 0, 1, 0}, false, L"Dalsa", L"DLS SP-11", L"2048x2048", nullptr,
     -1},
    {{u"Test LS 2048x2048", 2048, 2048, 8, 0, 0, 1, B}, false, L"Qoralt", L"Test LS", L"2048x2048", nullptr, -1},
    {{u"Basler L103 2048x2048", 2048, 2048, 8, 0, 0, 1, 0}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Basler L401k-BIC 4032x4032", 4032, 4032, 8, 0, 0, 1, 0}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Basler L203 4096x4096", 4096, 4096, 8, 0, 0, 1, 0}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Dalsa DLS SP-11 1024x4096", 1024, 4096, 8, 0, 0, 1, 0}, false, L"Dalsa", L"DLS SP-11", L"1024x4096", nullptr,
     -1},
    {{u"Mitsubishi DLS SCD 1024x4096", 1024, 4096, 8, 0, 0, 1, 0}, false, L"Mitsubishi", L"DLS SCD", L"1024x4096",
     nullptr, -1},
    {{u"Hitachi KP-F100 1280x1024", 1280, 1024, 8, 0, 0, 1, 0}, true, nullptr, nullptr, nullptr,
     L"rapid-reset, shutter-sw-twoTrigger", -1},
    {{u"Reserve Camera Format #0", 640, 480, 8, I, 0, 1, B}, false, L"Reserved", L"Format #0", L"640x480", nullptr, -1},
    {{u"Toshiba IK-542 640x480", 640, 480, 8, 0, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"PULNiX TM-9701 640x480", 640, 480, 8, 0, 0, 1, B}, true, L"Pulnix", nullptr, nullptr, nullptr, -1},
    {{u"Sony XC55BB 640x480", 640, 480, 8, 0, 0, 1, B}, true, nullptr, L"XC-55", nullptr,
     L"rapid-reset, shutter-sw-EDONPISHAII", -1},
    {{u"Reserve Camera Format #2", 640, 480, 8, 0, 0, 1, B}, false, L"Reserved", L"Format #2", L"640x480", nullptr, -1},
    {{u"Reserve Camera Format #1", 640, 480, 8, I, 0, 1, B}, false, L"Reserved", L"Format #1", L"640x480", nullptr, -1},
    {{u"Qoralt KMC4400 640x480", 640, 480, 8, 0, 0, 1, 0}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Qoralt NullFormat", 1, 1, 8, 0, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, 0x1001},
    {{u"Sony XC-ST50CERR 380x287", 380, 287, 8, I, R, 1, B}, true, nullptr, L"XC-ST50CE", nullptr, kRapid, -1},
    {{u"Sony XC-ST50CE 380x287", 380, 287, 8, I, R, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC-ST50CE 760x287", 760, 287, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC-ST50CE 760x574", 760, 574, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC-ST50RR 320x240", 320, 240, 8, I, R, 1, B}, true, nullptr, L"XC-ST50", nullptr, kRapid, -1},
    {{u"Sony XC-ST50 320x240", 320, 240, 8, I, R, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC75 640x240", 640, 240, 8, I, 0, 1, B}, true, nullptr, L"XC-75", nullptr, nullptr, -1},
    {{u"Pulnix TM7EX 640x240", 640, 240, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC-ST50 640x240", 640, 240, 8, I, 0, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"Sony XC75RR 320x240", 320, 240, 8, I, R, 1, B}, true, nullptr, L"XC-75", nullptr, kRapid, -1},
    {{u"Sony XC75CERR 380x287", 380, 287, 8, I, R, 1, B}, true, nullptr, L"XC-75CE", nullptr, kRapid, -1},
    {{u"Sony XC75CE 760x287", 760, 287, 8, I, 0, 1, B}, true, nullptr, L"XC-75CE", nullptr, nullptr, -1},
    {{u"Sony XC75CE 760x574", 760, 574, 8, I, 0, 1, B}, true, nullptr, L"XC-75CE", nullptr, nullptr, -1},
    {{u"Sony XC75CE 380x287", 380, 287, 8, I, R, 1, B}, true, nullptr, L"XC-75CE", nullptr, nullptr, -1},
    {{u"Sony XC75 320x240", 320, 240, 8, I, R, 1, B}, true, nullptr, L"XC-75", nullptr, nullptr, -1},
    {{u"Pulnix TM7EX 320x240", 320, 240, 8, I, R, 1, B}, true, nullptr, nullptr, nullptr, nullptr, -1},
    {{u"PULNiX TM-6CN 760x574", 760, 574, 8, I, 0, 1, 0}, true, L"Pulnix", nullptr, nullptr, nullptr, -1},
};
static_assert(sizeof(kRows) / sizeof(kRows[0]) == kBuiltinVideoFormatCount, "one row per built-in format");

// What a built-in format is made of, once per process and kept to its end:
// formats may still be looked at while the process exits. The camera
// information is made on its own, since descriptions of other formats of the
// name take it too (it may be asked for while the format is being made).
struct Slot {
    std::once_flag infoOnce;
    cc_VidFmtCameraInfo* info = nullptr;
    std::once_flag once;
    ccStdVideoFormat* format = nullptr;
};

Slot& slot(size_t index)
{
    static Slot* const slots = new Slot[kBuiltinVideoFormatCount];
    return slots[index];
}

void assign(std::wstring& field, const wchar_t* text)
{
    if (text)
        field = text;
}

cc_VidFmtCameraInfo& cameraInfo(size_t index)
{
    Slot& s = slot(index);
    std::call_once(s.infoOnce, [&] {
        const Row& row = kRows[index];
        auto* info = new cc_VidFmtCameraInfo(cf_wideName(row.record.name), row.parse);
        assign(info->manufacturer, row.manufacturer);
        assign(info->model, row.model);
        assign(info->resolution, row.resolution);
        assign(info->options, row.options);
        s.info = info;
    });
    return *s.info;
}

ccStdVideoFormat& made(size_t index)
{
    Slot& s = slot(index);
    std::call_once(s.once, [&] {
        const Row& row = kRows[index];
        cs_vidFmtExtensions own;
        own.cameraInfo = &cameraInfo(index);
        s.format = new ccStdVideoFormat(new cc_VidFmtDesc(&row.record, row.defaultModuleCode, own));
    });
    return *s.format;
}

} // namespace

const cc_VidFmtCameraInfo* cf_builtinCameraInfo(std::u16string_view name)
{
    for (size_t index = 0; index < kBuiltinVideoFormatCount; ++index)
        if (name == kRows[index].record.name)
            return &cameraInfo(index);
    return nullptr;
}

ccStdVideoFormat& ccBuiltinVideoFormat(size_t index)
{
    if (index >= kBuiltinVideoFormatCount)
        throw ccVideoFormat::NotFound();
    const std::u16string_view name(kRows[index].record.name);
    ccVideoFormat* registered = cf_findRegisteredFormat(name);
    if (!registered) {
        made(index);
        registered = cf_findRegisteredFormat(name);
    }
    // Formats under built-in names are standard ones; should another kind
    // (or none) be there, the built-in format itself is the answer.
    if (auto* format = dynamic_cast<ccStdVideoFormat*>(registered))
        return *format;
    return made(index);
}

namespace {
enum BuiltinIndex : size_t {
#define QORX_BUILTIN_INDEX(Name) k##Name,
    QORX_BUILTIN_VIDEO_FORMATS(QORX_BUILTIN_INDEX)
#undef QORX_BUILTIN_INDEX
        kEnd
};
static_assert(kEnd == kBuiltinVideoFormatCount, "one accessor per built-in format");
} // namespace

#define QORX_DEFINE_BUILTIN_VIDEO_FORMAT(Name) \
    ccStdVideoFormat& ccVidFmt##Name() { return ccBuiltinVideoFormat(k##Name); }
QORX_BUILTIN_VIDEO_FORMATS(QORX_DEFINE_BUILTIN_VIDEO_FORMAT)
#undef QORX_DEFINE_BUILTIN_VIDEO_FORMAT
