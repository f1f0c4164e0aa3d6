#include "std/startup.h"

#include <mutex>

#include "std/except/persist.h"
#include "std/except/resource.h"
#include "std/except/startup.h"
#include "std/except/status.h"
#include "std/dictionary.h"
#include "std/parseerror.h"
#include "std/literal.h"
#include "std/strings.h"
#include "std/threadid.h"
#include "std/timeout.h"

void ccStdStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccStdExceptStartup();
        ccCounterFrequency(); // reads the counter frequency and calibrates
        cc_Resource::setStopSemaphoreSource(&ccThreadID::currentStopSemaphore);
        ccRegisterPersistent<ccThreadID::CouldNotRegister>();
        ccRegisterPersistent<ccThreadID::CreateFailed>();
        ccRegisterPersistent<ccTimeout::Expired>();
        ccRegisterPersistent<ccTimeout::InternalExpired>();
        ccRegisterPersistent<ccTimeout::Cancel>();
        ccRegisterPersistent<cc_ParseError>();
        ccRegisterPersistent<ccBadUnicodeChar>();
        ccRegisterPersistent<ccDictionary::BadParams>();
        ccRegisterPersistent<ccStringLiteral::BadParams>();
        // The process language is taken from the user's while the module
        // loads; a failure here is left to the first use, which raises it.
        try {
            ccGetLanguageId();
        } catch (...) {
        }
        (void)ccDictionaryMutex();
        ccStatusThrowerRegistry::add(3, &ccTimeoutStatusThrower);
    });
}
