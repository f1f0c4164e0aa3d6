// The job system's process-wide cells, one exported accessor per cell. The
// cells start zeroed; the system layer fills them at its first job call.
#include <cstdint>

#include "system/csys_array.h"
#include "system/csys_handle.h"

struct csys_criticalSection;

namespace {

int32_t isInitialized;
int32_t isEnabled;
csys_criticalSection* criticalSection;
int32_t nextJobId;
int32_t nextGroupId;
uint32_t configurationId;
csys_array allJobThreads;
csys_handle defaultThreadGroup;
csys_array allClientThreads;

} // namespace

#define MXTG_EXPORT extern "C" __attribute__((visibility("default")))

MXTG_EXPORT void* csys_get_jobIsInitialized_() { return &isInitialized; }
MXTG_EXPORT void* csys_get_jobIsEnabled_() { return &isEnabled; }
MXTG_EXPORT void* csys_get_jobCriticalSection_() { return &criticalSection; }
MXTG_EXPORT void* csys_get_jobNextJobId_() { return &nextJobId; }
MXTG_EXPORT void* csys_get_jobNextGroupId_() { return &nextGroupId; }
MXTG_EXPORT void* csys_get_jobConfigurationId_() { return &configurationId; }
MXTG_EXPORT void* csys_get_jobAllJobThreads_() { return &allJobThreads; }
MXTG_EXPORT void* csys_get_jobDefaultThreadGroup_() { return &defaultThreadGroup; }
MXTG_EXPORT void* csys_get_jobAllClientThreads_() { return &allClientThreads; }
