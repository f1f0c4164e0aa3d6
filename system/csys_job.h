// The job system: a computation splits itself into tasks that run on job
// threads, or inline on the calling thread when no group has started job
// threads, and waits for their results.
//
// The process-wide state lives in the sibling library mxtgdata, bound by name
// at first use so that every module of the process shares it. This module
// never enables the job system nor starts job threads; the flags and lists
// below are what it reads and writes of them. Without the library every
// submission runs inline.
#pragma once
#include <cstdint>

#include "system/csys_array.h"
#include "system/csys_handle.h"
#include "system/csys_status.h"
#include "system/csys_sync.h"
#include "system/csys_thread.h"

// The nine cells of the sibling library, in the order of their exports.
enum csysJobCell : int32_t {
    csysJobCellIsInitialized,
    csysJobCellIsEnabled,
    csysJobCellCriticalSection,
    csysJobCellNextJobId,
    csysJobCellNextGroupId,
    csysJobCellConfigurationId,
    csysJobCellAllJobThreads,
    csysJobCellDefaultThreadGroup,
    csysJobCellAllClientThreads,
    csysJobCellCount
};

struct csysJobState {
    int32_t* isInitialized;
    int32_t* isEnabled;
    csys_criticalSection** criticalSection;
    int32_t* nextJobId;
    int32_t* nextGroupId;
    uint32_t* configurationId; // never holds 0xFFFFFFFF
    csys_array* allJobThreads; // job-thread handles
    csys_handle* defaultThreadGroup;
    csys_array* allClientThreads; // thread handles
};

struct csys_jobGroupStats {
    int64_t counters[4];
    double values[2];
};

struct csys_jobThreadStats {
    int64_t counters[8];
    double value;
};

// Counted records below hold their header first; the payload is the record.
struct csys_jobQueue {
    csys_record header;
    csys_criticalSection* section;
    csys_array pending; // job handles
    csys_array workers; // job-thread handles
    int32_t closed;     // while set, submissions run inline
};

struct csys_jobGroup {
    csys_record header;
    csys_criticalSection* section;
    int32_t id;
    void* block;
    csys_array threads; // job-thread handles
    csys_handle queue;
    csys_criticalSection* section2;
    csys_jobGroupStats stats;
    int32_t closing;
};

struct csys_jobThread {
    csys_record header;
    csys_criticalSection* section;
    csys_threadHandle thread;
    int32_t word0;
    int32_t id;
    void* block;
    int32_t started;
    int32_t word1;
    int32_t words[2];
    int32_t busy;
    csys_handle queue;
    csys_event wake;
    int32_t stop;
    int32_t wakeFlag;
    csys_criticalSection* section2;
    csys_jobThreadStats stats;
};

// Releases a data block through the address of its pointer, as csys_free.
typedef csysStatus (*csys_jobBlockRelease)(void* slot);

struct csys_jobData {
    csys_record header;
    void* block;
    csys_jobBlockRelease release; // null: csys_free
};

struct csys_jobResult {
    csys_record header;
    void* block;
    csys_jobBlockRelease release;
    csysStatus status; // csysErrJobTimeout until the task has run
    int32_t timed;
    csysTimeStamp elapsed;
};

// Receives the address of the slot that holds the task's data record.
typedef csysStatus (*csys_jobWork)(csys_handle* record);

struct csys_jobTask {
    csys_record header;
    csys_jobWork work;
    csys_handle data;
    csys_threadHandle creator;
    uint16_t x87Control;
    uint32_t mxcsr;
};

struct csys_job {
    csys_record header;
    csys_handle task;
    csys_event done; // manual reset
    int32_t word;
    csys_handle result;
    int32_t key[2];
};

// One per submission; not counted.
struct csys_jobWait {
    csys_array jobs; // job handles
    csys_handle group;
    csysTimeStamp time;
};

// Element types of handle arrays: a new element holds a new record.
extern const csys_elemType csys_jobThreadHandleType;
extern const csys_elemType csys_jobHandleType;
extern const csys_elemType csys_jobResultHandleType;
extern const csys_elemType csys_jobTaskHandleType;
extern const csys_elemType csys_jobGroupHandleType; // a new element is empty
extern const csys_elemType csys_jobThreadStatsType;
extern const csys_elemType csys_jobGroupStatsType;

// --- Shared state, start-up, client threads and shut-down ---

// Loads the sibling library when it is not loaded yet; a failed load is tried
// again at the next call.
void csys_jobBindDataLibrary();
// The address of a cell, binding first; null without the library or export.
void* csys_jobStateCell(csysJobCell cell);

// Gives csysErrFail when the library or one of its cells is missing.
[[nodiscard]] csysStatus csys_jobEnsureInit();
// The cached cells; valid after csys_jobEnsureInit succeeded.
const csysJobState& csys_jobState();

// The shut-down handlers, on the system layer's lists 1 and 0.
[[nodiscard]] csysStatus csys_jobShutdown(void* argument);
[[nodiscard]] csysStatus csys_jobReleaseState(void* argument);

// On return the slot holds the group to submit to, or is empty, and count
// tells how many job threads serve it (1: run inline).
[[nodiscard]] csysStatus csys_jobEnterClient(int32_t* count, csys_handle* group);
// A null thread is the calling thread.
[[nodiscard]] csysStatus csys_jobRegisterClient(const csys_threadHandle* thread, const csys_handle* group);
[[nodiscard]] csysStatus csys_jobRemoveClient(const csys_threadHandle* thread);
[[nodiscard]] csysStatus csys_jobGroupWorkerCount(const csys_handle* group, int32_t* count);
[[nodiscard]] csysStatus csys_jobHandleClear(csys_handle* slot);

// Each puts a new record into an initialised slot, releasing what it held.
[[nodiscard]] csysStatus csys_jobGroupCreate(csys_handle* slot);
[[nodiscard]] csysStatus csys_jobQueueCreate(csys_handle* slot);
[[nodiscard]] csysStatus csys_jobThreadCreate(csys_handle* slot);
[[nodiscard]] csysStatus csys_jobGroupRemoveThread(const csys_handle* group, int32_t index);
// Advances the shared configuration id; call under the job critical section.
void csys_jobAdvanceConfiguration();

// --- Data records, tasks, submission and waiting ---

// Each puts a new record into an initialised slot, releasing what it held.
[[nodiscard]] csysStatus csys_jobRecordCreate(csys_handle* slot);
[[nodiscard]] csysStatus csys_jobResultCreate(csys_handle* slot);
[[nodiscard]] csysStatus csys_jobTaskNew(csys_handle* slot);
[[nodiscard]] csysStatus csys_jobCreate(csys_handle* slot);

// The record takes the block held in blockSlot (a void* variable), which is
// set to null.
[[nodiscard]] csysStatus csys_jobSetData(const csys_handle* record, void* blockSlot, csys_jobBlockRelease release);
[[nodiscard]] csysStatus csys_jobGetData(const csys_handle* record, void** block);
[[nodiscard]] csysStatus csys_jobTaskArrayCreate(csys_array* array);
[[nodiscard]] csysStatus csys_jobRecordArrayCreate(csys_array* array);
// Appends a task that holds the record, then puts a fresh record in its slot.
[[nodiscard]] csysStatus csys_jobTaskCreate(csys_array* tasks, csys_jobWork work, csys_handle* record);

[[nodiscard]] csysStatus csys_jobWaitInit(csys_jobWait* wait);
[[nodiscard]] csysStatus csys_jobWaitDestroy(csys_jobWait* wait);
[[nodiscard]] csysStatus csys_jobRunAndWait(const csys_handle* group, const csys_array* tasks, csys_array* results);
[[nodiscard]] csysStatus csys_jobSubmit(const csys_handle* group, const csys_array* tasks, csys_jobWait* wait);
// Time-out in seconds: negative or NaN gives csysErrNegativeTimeout, +inf (or
// 2147483.647 s and more) waits without limit.
[[nodiscard]] csysStatus csys_jobWaitResults(csys_jobWait* wait, double seconds, csys_array* results);
[[nodiscard]] csysStatus csys_jobWaitDone(csys_job* job, double seconds);
// Runs the job's task with the creator's floating-point settings (the
// running thread's own are restored afterwards) and signals its done event.
// A timed run stores the elapsed time in the result.
[[nodiscard]] csysStatus csys_jobRun(csys_job* job, bool timed = false);

[[nodiscard]] csysStatus csys_jobQueuePush(const csys_handle* queue, const csys_array* tasks, csys_array* jobs,
                                           const int32_t key[2]);
[[nodiscard]] csysStatus csys_jobQueueTake(const csys_handle* queue, const int32_t key[2], int32_t* found,
                                           csys_handle* job);
[[nodiscard]] csysStatus csys_jobHelp(csys_jobThread* thread, const csys_handle* queue, const int32_t key[2]);
// Mode 0 removes the thread from the queue's workers, mode 1 adds it.
[[nodiscard]] csysStatus csys_jobQueueMoveWorker(int32_t mode, const csys_handle* queue, const csys_handle* thread);
[[nodiscard]] csysStatus csys_jobThreadSetQueue(const csys_handle* thread, const csys_handle* group,
                                                const csys_handle* queue);
[[nodiscard]] csysStatus csys_jobThreadWake(csys_jobThread* thread);
[[nodiscard]] csysStatus csys_jobThreadStop(csys_jobThread* thread);
