#include "modules/module_errors.h"

bool ccPrintModuleError(std::wostream& os, const std::wstring& message, uint32_t lastError)
{
    if (message.empty() && lastError == 0)
        return false;
    os << message;
    // Unsigned, and not through the stream, whose locale may group digits.
    if (lastError != 0)
        os << L" : LastError = " << std::to_wstring(lastError);
    return true;
}
