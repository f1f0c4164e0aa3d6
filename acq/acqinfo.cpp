#include "acq/acqinfo.h"

#include <algorithm>

#include "std/except/utf16.h"

void ccAcquireInfo::takeModuleMessage(int32_t status, const char16_t* buffer, uint32_t length)
{
    if (status != 0 || length == 0 || !buffer) {
        failure.message.clear();
        return;
    }
    const char16_t* end = buffer + std::min<std::size_t>(length, kModuleMessageUnits);
    failure.message = ccFromUtf16(buffer, static_cast<std::size_t>(std::find(buffer, end, u'\0') - buffer));
}
