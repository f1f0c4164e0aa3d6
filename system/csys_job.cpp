#include "system/csys_job.h"

#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/environment.h"
#include "platform/module.h"
#include "platform/text.h"
#include "system/csys_internal.h"
#include "system/csys_job_testing.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"

using csys_detail::firstFailure;

namespace {

// --- Binding of the sibling library ---

const char* const kExports[csysJobCellCount] = {
    "csys_get_jobIsInitialized_",   "csys_get_jobIsEnabled_",          "csys_get_jobCriticalSection_",
    "csys_get_jobNextJobId_",       "csys_get_jobNextGroupId_",        "csys_get_jobConfigurationId_",
    "csys_get_jobAllJobThreads_",   "csys_get_jobDefaultThreadGroup_", "csys_get_jobAllClientThreads_",
};

typedef void* (*CellEntry)();

// Two threads binding at once must not race on the handle and addresses.
std::mutex& bindLock()
{
    static std::mutex* lock = new std::mutex; // never destroyed: late releases may bind
    return *lock;
}

plat::ModuleHandle boundLibrary;
CellEntry entries[csysJobCellCount];

// Candidate paths are built in a buffer of this many characters, the
// terminator included; a longer one is not tried.
constexpr size_t kPathLimit = 260;

bool candidateExists(const wchar_t* variable, const wchar_t* tail, std::wstring* path)
{
    std::wstring root;
    if (!plat::environmentVariable(variable, &root))
        return false;
    *path = root + tail;
    std::string name;
    if (path->size() >= kPathLimit || !plat::systemNameFromWide(*path, &name))
        return false;
    std::error_code ignored;
    return std::filesystem::exists(name, ignored);
}

void bindLocked()
{
    if (boundLibrary != nullptr)
        return;
    std::wstring path;
    if (!candidateExists(L"MRLM_ROOT", L"/bin/mxtgdata.so", &path) &&
        !candidateExists(L"ROOT_VX", L"/exe/Release/mxtgdata.so", &path))
        path = L"mxtgdata.so";
    boundLibrary = plat::loadModule(path);
    if (boundLibrary == nullptr)
        return;
    for (int32_t i = 0; i < csysJobCellCount; ++i)
        entries[i] = reinterpret_cast<CellEntry>(plat::moduleSymbol(boundLibrary, kExports[i]));
}

// --- Shared state ---

csysJobState state;
int32_t stateCached;

csysStatus cacheState(void*)
{
    void* cells[csysJobCellCount];
    for (int32_t i = 0; i < csysJobCellCount; ++i) {
        cells[i] = csys_jobStateCell(static_cast<csysJobCell>(i));
        // A missing cell leaves the cache unfilled, so the next call binds again.
        if (cells[i] == nullptr)
            return csysErrFail;
    }
    state.isInitialized = static_cast<int32_t*>(cells[csysJobCellIsInitialized]);
    state.isEnabled = static_cast<int32_t*>(cells[csysJobCellIsEnabled]);
    state.criticalSection = static_cast<csys_criticalSection**>(cells[csysJobCellCriticalSection]);
    state.nextJobId = static_cast<int32_t*>(cells[csysJobCellNextJobId]);
    state.nextGroupId = static_cast<int32_t*>(cells[csysJobCellNextGroupId]);
    state.configurationId = static_cast<uint32_t*>(cells[csysJobCellConfigurationId]);
    state.allJobThreads = static_cast<csys_array*>(cells[csysJobCellAllJobThreads]);
    state.defaultThreadGroup = static_cast<csys_handle*>(cells[csysJobCellDefaultThreadGroup]);
    state.allClientThreads = static_cast<csys_array*>(cells[csysJobCellAllClientThreads]);
    return csysOk;
}

csysStatus lockJobs() { return csys_csEnter(state.criticalSection, nullptr); }
csysStatus unlockJobs() { return csys_csLeave(state.criticalSection); }

// Arrays never created (zeroed) are left alone.
csysStatus freeArray(csys_array* array) { return array->elementSize > 0 ? csys_arrayFree(array) : csysOk; }

template <class T>
T* recordOf(const csys_handle* slot)
{
    return slot != nullptr && *slot != nullptr ? static_cast<T*>((*slot)->payload) : nullptr;
}

csys_handle* handleAt(const csys_array* array, int32_t index) { return static_cast<csys_handle*>(array->data) + index; }

int32_t exchange(int32_t* word, int32_t value) { return __atomic_exchange_n(word, value, __ATOMIC_ACQ_REL); }

// --- Records ---

csysStatus addRef(int32_t* count, int32_t* newCount, void*, int32_t) { return csys_atomicIncrement(count, newCount); }
csysStatus dropRef(int32_t* count, int32_t* newCount, void*, int32_t) { return csys_atomicDecrement(count, newCount); }

csysStatus destroyQueue(csys_jobQueue* q)
{
    csysStatus status = csys_csDelete(&q->section);
    status = firstFailure(status, freeArray(&q->pending));
    status = firstFailure(status, freeArray(&q->workers));
    return firstFailure(status, csys_free(&q));
}

csysStatus destroyGroup(csys_jobGroup* g)
{
    csysStatus status = csys_csDelete(&g->section);
    status = firstFailure(status, csys_csDelete(&g->section2));
    status = firstFailure(status, freeArray(&g->threads));
    status = firstFailure(status, csys_handleRelease(&g->queue));
    status = firstFailure(status, csys_free(&g->block));
    return firstFailure(status, csys_free(&g));
}

csysStatus destroyThread(csys_jobThread* t)
{
    csysStatus status = csys_csDelete(&t->section);
    status = firstFailure(status, csys_threadHandleRelease(&t->thread));
    status = firstFailure(status, csys_handleClose(&t->wake.handle));
    status = firstFailure(status, csys_handleRelease(&t->queue));
    status = firstFailure(status, csys_free(&t->block));
    status = firstFailure(status, csys_csDelete(&t->section2));
    return firstFailure(status, csys_free(&t));
}

template <class T, csysStatus (*Destroy)(T*)>
csysStatus releasePayload(void* payloadField, int32_t)
{
    return Destroy(*static_cast<T**>(payloadField));
}

const csys_recordFunctions kQueueFunctions = {&releasePayload<csys_jobQueue, destroyQueue>, &addRef, &dropRef};
const csys_recordFunctions kGroupFunctions = {&releasePayload<csys_jobGroup, destroyGroup>, &addRef, &dropRef};
const csys_recordFunctions kThreadFunctions = {&releasePayload<csys_jobThread, destroyThread>, &addRef, &dropRef};
const csys_typeDescription kQueueType = {0, nullptr, &kQueueFunctions};
const csys_typeDescription kGroupType = {0, nullptr, &kGroupFunctions};
const csys_typeDescription kThreadType = {0, nullptr, &kThreadFunctions};

// Makes the record counted and puts it into the slot; a failure destroys it.
template <class T, csysStatus (*Destroy)(T*)>
csysStatus publish(csysStatus status, T* record, const csys_typeDescription* type, csys_handle* slot)
{
    if (status >= 0)
        status = csys_handleInitTyped(&record->header, record, type);
    if (status >= 0)
        status = csys_handleAssign(slot, &record->header);
    if (status < 0)
        (void)Destroy(record); // the failure that matters is the one returned
    return status;
}

// Allocates a zeroed record and creates its first critical section; the
// record is null when nothing was allocated, else publish() must follow.
template <class T>
csysStatus allocWithSection(const csys_handle* slot, T** record)
{
    if (slot == nullptr)
        return csysErrNullArg;
    csysStatus status = csys_allocZeroed(static_cast<int32_t>(sizeof(T)), record);
    if (status >= 0)
        status = csys_csCreate(&(*record)->section);
    return status;
}

csysStatus handleArrayCreate(csys_array* array, const csys_elemType* type)
{
    return csys_arrayCreate(array, 0, sizeof(csys_handle), type);
}

// --- Element types ---

template <csysStatus (*Create)(csys_handle*)>
csysStatus initHandle(void* element, const csys_allocator*)
{
    auto* slot = static_cast<csys_handle*>(element);
    *slot = nullptr;
    return Create(slot);
}

csysStatus emptyHandle(csys_handle* slot) { return csys_jobHandleClear(slot); }

csysStatus copyHandle(void* destination, const void* source)
{
    return csys_handleInitCopy(static_cast<csys_handle*>(destination), static_cast<const csys_handle*>(source));
}

csysStatus assignHandle(void* destination, const void* source)
{
    return csys_handleCopy(static_cast<csys_handle*>(destination), static_cast<const csys_handle*>(source));
}

csysStatus destroyHandle(void* element) { return csys_handleRelease(static_cast<csys_handle*>(element)); }

template <class T>
csysStatus zeroValue(void* element, const csys_allocator*)
{
    std::memset(element, 0, sizeof(T));
    return csysOk;
}

template <class T>
csysStatus copyValue(void* destination, const void* source)
{
    std::memcpy(destination, source, sizeof(T));
    return csysOk;
}

// --- Initialisation ---

csysStatus deleteSection(void* slot) { return csys_csDelete(static_cast<csys_criticalSection**>(slot)); }
csysStatus freeArrayEntry(void* array) { return csys_arrayFree(static_cast<csys_array*>(array)); }
csysStatus releaseEntry(void* slot) { return csys_handleRelease(static_cast<csys_handle*>(slot)); }

csysStatus jobInit(void*)
{
    csys_cleanupStack<4> cleanup; // one entry per undoable step
    csysStatus status = csys_csCreate(state.criticalSection);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(0, csysCleanupFailure1, state.criticalSection, &deleteSection);
    status = handleArrayCreate(state.allJobThreads, &csys_jobThreadHandleType);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(0, csysCleanupFailure1, state.allJobThreads, &freeArrayEntry);
    *state.defaultThreadGroup = nullptr;
    status = csys_jobGroupCreate(state.defaultThreadGroup);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(0, csysCleanupFailure1, state.defaultThreadGroup, &releaseEntry);
    status = csys_threadHandleArrayCreate(state.allClientThreads, 0);
    if (status < 0)
        return cleanup.finish(status);
    (void)cleanup.push(0, csysCleanupFailure1, state.allClientThreads, &freeArrayEntry);
    status = csys_atShutdown1(&csys_jobShutdown, nullptr);
    if (status >= 0)
        status = csys_atShutdown0(&csys_jobReleaseState, nullptr);
    return cleanup.finish(status);
}

csysStatus clientThreadExit(void*) { return csys_jobRemoveClient(nullptr); }

// The thread's index in the client list, or -1.
int32_t findClient(const csys_threadHandle* thread)
{
    auto* clients = static_cast<csys_threadHandle*>(state.allClientThreads->data);
    for (int32_t i = 0; i < state.allClientThreads->length; ++i) {
        int32_t order = 1;
        if (csys_threadHandleCompare(&clients[i], thread, &order) >= 0 && order == 0)
            return i;
    }
    return -1;
}

// A null thread is the calling thread, whose handle self then holds; takes
// the job critical section.
csysStatus lockForThread(const csys_threadHandle** thread, csys_threadHandle* self)
{
    csysStatus status = csysOk;
    if (*thread == nullptr || **thread == nullptr) {
        status = csys_threadGetCurrent(self);
        *thread = self;
    }
    if (status >= 0)
        status = csys_jobEnsureInit();
    if (status >= 0)
        status = lockJobs();
    return status;
}

} // namespace

const csys_elemType csys_jobThreadHandleType = {&initHandle<csys_jobThreadCreate>, &copyHandle, &assignHandle,
                                                &destroyHandle, -1};
const csys_elemType csys_jobHandleType = {&initHandle<csys_jobCreate>, &copyHandle, &assignHandle, &destroyHandle, -1};
const csys_elemType csys_jobResultHandleType = {&initHandle<csys_jobResultCreate>, &copyHandle, &assignHandle,
                                                &destroyHandle, -1};
const csys_elemType csys_jobTaskHandleType = {&initHandle<csys_jobTaskNew>, &copyHandle, &assignHandle, &destroyHandle,
                                              -1};
const csys_elemType csys_jobGroupHandleType = {&initHandle<emptyHandle>, &copyHandle, &assignHandle, &destroyHandle,
                                               -1};
const csys_elemType csys_jobThreadStatsType = {&zeroValue<csys_jobThreadStats>, &copyValue<csys_jobThreadStats>,
                                               &copyValue<csys_jobThreadStats>, nullptr, -1};
const csys_elemType csys_jobGroupStatsType = {&zeroValue<csys_jobGroupStats>, &copyValue<csys_jobGroupStats>,
                                              &copyValue<csys_jobGroupStats>, nullptr, -1};

void csys_jobBindDataLibrary()
{
    std::lock_guard<std::mutex> lock(bindLock());
    bindLocked();
}

void* csys_jobStateCell(csysJobCell cell)
{
    if (cell < 0 || cell >= csysJobCellCount)
        return nullptr;
    CellEntry entry;
    {
        std::lock_guard<std::mutex> lock(bindLock());
        bindLocked();
        entry = entries[cell];
    }
    return entry != nullptr ? entry() : nullptr;
}

std::wstring csys_jobDataLibraryPath()
{
    std::lock_guard<std::mutex> lock(bindLock());
    return boundLibrary != nullptr ? plat::modulePath(boundLibrary) : std::wstring();
}

csysStatus csys_jobEnsureInit()
{
    csysStatus status = csys_once(&cacheState, nullptr, &stateCached);
    if (status < 0)
        return status;
    return csys_once(&jobInit, nullptr, state.isInitialized);
}

const csysJobState& csys_jobState() { return state; }

void csys_jobAdvanceConfiguration()
{
    uint32_t next = *state.configurationId + 1;
    if (next == 0xFFFFFFFFu)
        ++next;
    *state.configurationId = next;
}

csysStatus csys_jobHandleClear(csys_handle* slot) { return csys_handleAttach(slot, nullptr); }

csysStatus csys_jobQueueCreate(csys_handle* slot)
{
    csys_jobQueue* q = nullptr;
    csysStatus status = allocWithSection(slot, &q);
    if (q == nullptr)
        return status;
    if (status >= 0)
        status = handleArrayCreate(&q->pending, &csys_jobHandleType);
    if (status >= 0)
        status = handleArrayCreate(&q->workers, &csys_jobThreadHandleType);
    return publish<csys_jobQueue, destroyQueue>(status, q, &kQueueType, slot);
}

csysStatus csys_jobGroupCreate(csys_handle* slot)
{
    csys_jobGroup* g = nullptr;
    csysStatus status = allocWithSection(slot, &g);
    if (g == nullptr)
        return status;
    if (status >= 0)
        status = handleArrayCreate(&g->threads, &csys_jobThreadHandleType);
    if (status >= 0)
        status = csys_jobQueueCreate(&g->queue);
    if (status >= 0)
        status = csys_csCreate(&g->section2);
    csysTimeStamp now = 0;
    if (status >= 0)
        status = csys_timeNow(&now);
    g->stats.counters[0] = now;
    g->stats.counters[1] = now;
    g->id = -1;
    return publish<csys_jobGroup, destroyGroup>(status, g, &kGroupType, slot);
}

csysStatus csys_jobThreadCreate(csys_handle* slot)
{
    csys_jobThread* t = nullptr;
    csysStatus status = allocWithSection(slot, &t);
    if (t == nullptr)
        return status;
    t->id = -1;
    t->word1 = 1;
    if (status >= 0)
        status = csys_eventCreate(&t->wake, 0, 0);
    if (status >= 0)
        status = csys_csCreate(&t->section2);
    return publish<csys_jobThread, destroyThread>(status, t, &kThreadType, slot);
}

csysStatus csys_jobEnterClient(int32_t* count, csys_handle* group)
{
    if (count == nullptr || group == nullptr)
        return csysErrNullArg;
    *count = 1;
    // A group the slot still holds is let go of, not forgotten.
    const csysStatus released = csys_handleRelease(group);
    if (released < 0)
        return released; // the slot is empty all the same
    // Without the shared state there are no job threads: the caller runs inline.
    if (csys_jobEnsureInit() < 0)
        return csysOk;
    csys_threadHandle self = nullptr;
    csysStatus status = csys_threadGetCurrent(&self);
    if (status < 0)
        return status;
    csys_handle jobThread = nullptr;
    status = lockJobs();
    if (status < 0) {
        (void)csys_threadHandleRelease(&self); // the status that matters is the lock's
        return status;
    }
    bool attach = __atomic_load_n(state.isEnabled, __ATOMIC_ACQUIRE) != 0;
    int32_t word1 = 0;
    int32_t word2 = 0;
    if (attach) {
        status = csys_threadHandleGetJobWords(&self, &word1, &word2, nullptr, nullptr, &jobThread);
        attach = status >= 0 && word1 != 0;
    }
    if (attach && word2 != 0) {
        auto* t = recordOf<csys_jobThread>(&jobThread);
        attach = t == nullptr || __atomic_load_n(&t->busy, __ATOMIC_ACQUIRE) == 0;
    }
    if (attach) {
        status = csys_threadGetJobHandle(&self, group);
        auto* g = recordOf<csys_jobGroup>(group);
        if (status >= 0 && (g == nullptr || __atomic_load_n(&g->closing, __ATOMIC_ACQUIRE) != 0)) {
            status = csys_jobRegisterClient(&self, state.defaultThreadGroup);
            if (status >= 0)
                status = csys_handleCopy(group, state.defaultThreadGroup);
        }
    }
    status = firstFailure(status, unlockJobs());
    int32_t workers = 1;
    if (status >= 0 && attach)
        status = csys_jobGroupWorkerCount(group, &workers);
    if (status < 0 || workers < 2) {
        workers = 1;
        status = firstFailure(status, csys_handleRelease(group));
    }
    *count = workers;
    status = firstFailure(status, csys_handleRelease(&jobThread));
    return firstFailure(status, csys_threadHandleRelease(&self));
}

csysStatus csys_jobRegisterClient(const csys_threadHandle* thread, const csys_handle* group)
{
    if (group == nullptr)
        return csysErrNullArg;
    csys_threadHandle self = nullptr;
    csysStatus status = lockForThread(&thread, &self);
    if (status < 0) {
        (void)csys_threadHandleRelease(&self); // the earlier failure is the one to report
        return status;
    }
    int32_t word1 = 0;
    int32_t word2 = 0;
    bool append = false;
    status = csys_threadHandleGetJobWords(thread, &word1, &word2, nullptr, nullptr, nullptr);
    if (status >= 0 && word2 != 0)
        status = csysErrJobClient;
    if (status >= 0 && *group == nullptr)
        status = csysErrNoGroup;
    if (status >= 0)
        status = csys_threadSetJobHandle(thread, group);
    if (status >= 0) {
        csys_jobAdvanceConfiguration();
        append = findClient(thread) < 0;
        if (append)
            status = csys_arrayAppend(state.allClientThreads, thread);
    }
    status = firstFailure(status, unlockJobs());
    if (status >= 0 && append)
        status = csys_atThreadExit(thread, &clientThreadExit, nullptr);
    return firstFailure(status, csys_threadHandleRelease(&self));
}

csysStatus csys_jobRemoveClient(const csys_threadHandle* thread)
{
    csys_threadHandle self = nullptr;
    csysStatus status = lockForThread(&thread, &self);
    if (status >= 0) {
        int32_t index = findClient(thread);
        if (index >= 0) {
            auto* clients = static_cast<csys_threadHandle*>(state.allClientThreads->data);
            status = csys_arrayErase(state.allClientThreads, &clients[index]);
            csys_jobAdvanceConfiguration();
        }
        status = firstFailure(status, unlockJobs());
    }
    return firstFailure(status, csys_threadHandleRelease(&self));
}

csysStatus csys_jobGroupWorkerCount(const csys_handle* group, int32_t* count)
{
    if (count == nullptr)
        return csysErrNullArg;
    *count = 1;
    auto* g = recordOf<csys_jobGroup>(group);
    if (g == nullptr)
        return csysOk;
    csysStatus status = csys_jobEnsureInit();
    if (status >= 0)
        status = lockJobs();
    if (status < 0)
        return status;
    csys_array threads = {};
    // The list changes under the group's own section (a thread leaving it).
    status = csys_csEnter(&g->section, nullptr);
    if (status >= 0) {
        status = csys_arrayCreateCopy(&threads, &g->threads);
        status = firstFailure(status, csys_csLeave(&g->section));
    }
    status = firstFailure(status, unlockJobs());
    int32_t started = 0;
    for (int32_t i = 0; status >= 0 && i < threads.length; ++i) {
        auto* t = recordOf<csys_jobThread>(handleAt(&threads, i));
        if (t == nullptr)
            continue;
        status = csys_csEnter(&t->section, nullptr);
        if (status >= 0 && t->started != 0)
            ++started;
        status = firstFailure(status, csys_csLeave(&t->section));
    }
    if (status >= 0)
        *count = started;
    return firstFailure(status, freeArray(&threads));
}

csysStatus csys_jobGroupRemoveThread(const csys_handle* group, int32_t index)
{
    auto* g = recordOf<csys_jobGroup>(group);
    if (g == nullptr)
        return csysErrNoGroup;
    csys_handle thread = nullptr;
    csysStatus status = csys_csEnter(&g->section, nullptr);
    if (status < 0)
        return status;
    if (index < 0 || index >= g->threads.length)
        status = csysErrJobIndex;
    if (status >= 0)
        status = csys_handleCopy(&thread, handleAt(&g->threads, index));
    if (status >= 0)
        status = csys_arrayErase(&g->threads, handleAt(&g->threads, index));
    status = firstFailure(status, csys_csLeave(&g->section));
    csys_handle none = nullptr;
    if (status >= 0)
        status = csys_jobThreadSetQueue(&thread, &none, &none);
    return firstFailure(status, csys_handleRelease(&thread));
}

csysStatus csys_jobShutdown(void*)
{
    csysStatus status = csys_jobEnsureInit();
    if (status < 0)
        return status;
    csys_handle fresh = nullptr;
    status = csys_jobGroupCreate(&fresh);
    if (status >= 0)
        status = lockJobs();
    if (status < 0) {
        (void)csys_handleRelease(&fresh); // the earlier failure is the one to report
        return status;
    }
    __atomic_store_n(state.isEnabled, 0, __ATOMIC_RELEASE);
    csys_array threads = {};
    csys_array groups = {};
    status = csys_arrayCreateCopy(&threads, state.allJobThreads);
    if (status >= 0)
        status = handleArrayCreate(&groups, &csys_jobGroupHandleType);
    for (int32_t i = 0; status >= 0 && i <= threads.length; ++i) {
        // Each job thread's group, then the default group.
        csys_handle group = nullptr;
        if (i < threads.length) {
            auto* t = recordOf<csys_jobThread>(handleAt(&threads, i));
            if (t != nullptr && t->thread != nullptr)
                status = csys_threadGetJobHandle(&t->thread, &group);
        } else {
            status = csys_handleCopy(&group, state.defaultThreadGroup);
        }
        if (status >= 0)
            status = csys_arrayAppend(&groups, &group);
        status = firstFailure(status, csys_handleRelease(&group));
    }
    for (int32_t i = 0; status >= 0 && i < groups.length; ++i) {
        auto* g = recordOf<csys_jobGroup>(handleAt(&groups, i));
        if (g == nullptr)
            continue;
        exchange(&g->closing, 1);
        if (auto* q = recordOf<csys_jobQueue>(&g->queue))
            exchange(&q->closed, 1);
    }
    if (status >= 0)
        status = csys_arrayResize(state.allJobThreads, 0);
    if (status >= 0)
        status = csys_arrayResize(state.allClientThreads, 0);
    if (status >= 0)
        status = csys_handleCopy(state.defaultThreadGroup, &fresh);
    csys_jobAdvanceConfiguration();
    status = firstFailure(status, unlockJobs());

    // Emptied through the group's own section: the length is read under it.
    for (int32_t i = 0; status >= 0 && i < groups.length; ++i) {
        if (*handleAt(&groups, i) == nullptr)
            continue;
        do
            status = csys_jobGroupRemoveThread(handleAt(&groups, i), 0);
        while (status >= 0);
        if (status == csysErrJobIndex)
            status = csysOk;
    }
    for (int32_t i = 0; status >= 0 && i < threads.length; ++i) {
        auto* t = recordOf<csys_jobThread>(handleAt(&threads, i));
        if (t != nullptr)
            status = csys_jobThreadStop(t);
    }
    for (int32_t i = 0; status >= 0 && i < threads.length; ++i) {
        auto* t = recordOf<csys_jobThread>(handleAt(&threads, i));
        if (t != nullptr && t->thread != nullptr)
            status = csys_threadJoin(&t->thread);
    }
    status = firstFailure(status, freeArray(&groups));
    status = firstFailure(status, freeArray(&threads));
    return firstFailure(status, csys_handleRelease(&fresh));
}

csysStatus csys_jobReleaseState(void*)
{
    csysStatus status = csys_jobEnsureInit();
    if (status >= 0)
        status = csys_csDelete(state.criticalSection);
    if (status >= 0)
        status = csys_arrayFree(state.allJobThreads);
    if (status >= 0)
        status = csys_handleRelease(state.defaultThreadGroup);
    if (status >= 0)
        status = csys_arrayFree(state.allClientThreads);
    // Another module sharing the state must initialise it again, not use the
    // objects freed here.
    if (status >= 0)
        __atomic_store_n(state.isInitialized, 0, __ATOMIC_RELEASE);
    return status;
}
