// libFuzzer target: one camera-configuration file's bytes, as a user drops
// it on the search path. The reader keeps every content line with its file
// line number (increasing, each a line of the input); the lines then either
// build a store whose entries all print back as text, or raise one of the
// file's value errors naming one of those line numbers; a file over the
// reader's limits is refused. Nothing else may leave, and nothing may be read
// outside the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "acq/camcfg/ccfformat.h"
#include "acq/camcfg/entry.h"
#include "acq/camcfg/fileinfo.h"
#include "acq/camcfg/parammap.h"
#include "acq/camcfg/reader.h"
#include "acq/camcfg/startup.h"
#include "acq/camcfg/strhelper.h"
#include "std/parseerror.h"

namespace {

bool isLineNumberOf(const cc_ccfFileInfo& record, uint32_t line)
{
    for (size_t i = 0; i < record.numLines(); ++i)
        if (record.lineNumber(i) == line)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = (ccAcqCamcfgStartup(), true);
    (void)registered;
    if (size > 1 << 16)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in(bytes);
    ccPtrHandle<cc_ccfFileInfo> record(new cc_ccfFileInfo);
    try {
        cc_ccfReader::readStream(in, L"fuzz.ccf", *record, true);
    } catch (const cc_ParseError&) {
        // Only a file with more than a line's worth of text can pass a limit.
        if (size <= cc_ccfReader::kMaxLineLength)
            std::abort();
        return 0;
    }

    const size_t physical = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'))
                            + (!bytes.empty() && bytes.back() != '\n' ? 1 : 0);
    uint32_t previous = 0;
    for (size_t i = 0; i < record->numLines(); ++i) {
        const uint32_t n = record->lineNumber(i);
        if (n <= previous || n > physical || record->line(i).empty()
            || record->line(i).find_first_of(L"\r\n") != std::wstring::npos)
            std::abort();
        previous = n;
    }
    if (record->checksumLine() > physical)
        std::abort();
    (void)record->computeChecksum();

    uint32_t failedLine = 0;
    try {
        ccPtrHandle<cc_camCfgStore> store = cf_buildCamCfgStore(*record, nullptr, &failedLine);
        for (uint32_t key = 0; key < cc_CCFParameterMap::kRowCount; ++key) {
            ccPtrHandle<cc_camCfgEntry> entry = store->entry(key);
            if (!entry.rawPointer())
                continue;
            for (int32_t i = 0; i < entry->count(); ++i) {
                std::wstring text;
                if (!entry->convertText(text, true, i))
                    std::abort(); // a stored value always has its text
            }
        }
    } catch (const cc_ccfException&) {
        if (!isLineNumberOf(*record, failedLine))
            std::abort();
    }
    return 0;
}
