// A video format whose owner made its record, camera information (and video
// information, when given) and description, as a file's storage or the
// driver-module bridge does. Each part goes before the one made before it.
#pragma once
#include <memory>
#include <string>

#include "acq/vidfmt/vidfmt.h"
#include "platform/text.h"

namespace test_acq {

struct OwnedFormat {
    explicit OwnedFormat(const char16_t* name, const wchar_t* alias = L"",
                         const cc_VidFmtVideoInfo* videoInfo = nullptr)
        : record{name, 1, 1, 8, 0, 0, 1, 0},
          info(new cc_VidFmtCameraInfo(plat::wideFromUtf16(name, std::char_traits<char16_t>::length(name)), true)),
          desc(new cc_VidFmtDesc(&record, -1, cs_vidFmtExtensions{videoInfo, nullptr, info.get(), nullptr})),
          format(desc.get())
    {
        info->alias = alias;
    }

    cs_vidFmtRecord record;
    std::unique_ptr<cc_VidFmtCameraInfo> info;
    std::unique_ptr<cc_VidFmtDesc> desc;
    ccStdVideoFormat format;
};

} // namespace test_acq
