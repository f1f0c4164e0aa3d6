#include <xmmintrin.h>

#include <cmath>

#include "system/csys_internal.h"
#include "system/csys_job.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"

using csys_detail::firstFailure;

namespace {

template <class T>
T* recordOf(const csys_handle* slot)
{
    return slot != nullptr && *slot != nullptr ? static_cast<T*>((*slot)->payload) : nullptr;
}

csys_handle* handleAt(const csys_array* array, int32_t index) { return static_cast<csys_handle*>(array->data) + index; }

csysStatus freeArray(csys_array* array) { return array->elementSize > 0 ? csys_arrayFree(array) : csysOk; }

int32_t exchange(int32_t* word, int32_t value) { return __atomic_exchange_n(word, value, __ATOMIC_ACQ_REL); }

// --- Floating-point control words ---

struct FpControl {
    uint16_t x87;
    uint32_t mxcsr;
};

FpControl saveFp()
{
    FpControl words;
    __asm__ __volatile__("fnstcw %0" : "=m"(words.x87));
    words.mxcsr = _mm_getcsr();
    return words;
}

void loadFp(const FpControl& words)
{
    __asm__ __volatile__("fldcw %0" : : "m"(words.x87));
    _mm_setcsr(words.mxcsr);
}

// --- Records ---

csysStatus addRef(int32_t* count, int32_t* newCount, void*, int32_t) { return csys_atomicIncrement(count, newCount); }
csysStatus dropRef(int32_t* count, int32_t* newCount, void*, int32_t) { return csys_atomicDecrement(count, newCount); }

template <class T>
csysStatus releaseBlock(T* r)
{
    if (r == nullptr)
        return csysErrNullArg;
    return r->release != nullptr ? r->release(&r->block) : csys_free(&r->block);
}

template <class T>
csysStatus destroyBlockRecord(T* r)
{
    csysStatus status = releaseBlock(r);
    return firstFailure(status, csys_free(&r));
}

csysStatus destroyData(csys_jobData* r) { return destroyBlockRecord(r); }
csysStatus destroyResult(csys_jobResult* r) { return destroyBlockRecord(r); }

csysStatus destroyTask(csys_jobTask* t)
{
    csysStatus status = csys_handleRelease(&t->data);
    status = firstFailure(status, csys_threadHandleRelease(&t->creator));
    return firstFailure(status, csys_free(&t));
}

csysStatus destroyJob(csys_job* j)
{
    csysStatus status = csys_handleClose(&j->done.handle);
    status = firstFailure(status, csys_handleRelease(&j->task));
    status = firstFailure(status, csys_handleRelease(&j->result));
    return firstFailure(status, csys_free(&j));
}

template <class T, csysStatus (*Destroy)(T*)>
csysStatus releasePayload(void* payloadField, int32_t)
{
    return Destroy(*static_cast<T**>(payloadField));
}

template <class T, csysStatus (*Destroy)(T*)>
struct RecordType {
    static constexpr csys_recordFunctions functions = {&releasePayload<T, Destroy>, &addRef, &dropRef};
    static constexpr csys_typeDescription type = {0, nullptr, &functions};
};

// Allocates a zeroed record; finish() makes it counted and puts it into the
// slot, or destroys it on failure.
template <class T, csysStatus (*Destroy)(T*)>
struct NewRecord {
    T* record = nullptr;
    csysStatus status;
    explicit NewRecord(csys_handle* slot) : status(slot ? csys_allocZeroed(sizeof(T), &record) : csysErrNullArg) {}
    // Runs one filling step while every earlier one succeeded.
    template <class Step>
    NewRecord& then(Step step)
    {
        if (status >= 0)
            status = step(record);
        return *this;
    }
    csysStatus finish(csys_handle* slot)
    {
        if (status >= 0)
            status = csys_handleInitTyped(&record->header, record, &RecordType<T, Destroy>::type);
        if (status >= 0)
            status = csys_handleAssign(slot, &record->header);
        if (status < 0 && record != nullptr)
            (void)Destroy(record); // the failure that matters is the one returned
        return status;
    }
};

// Runs the first count jobs in order on the calling thread, keeping the first
// failure.
csysStatus runAll(const csys_array* jobs, int32_t count)
{
    csysStatus status = csysOk;
    for (int32_t i = 0; i < count; ++i)
        status = firstFailure(status, csys_jobRun(recordOf<csys_job>(handleAt(jobs, i))));
    return status;
}

csysStatus runTask(csys_job* job, bool timed)
{
    csysStatus status = csys_jobResultCreate(&job->result);
    auto* task = recordOf<csys_jobTask>(&job->task);
    auto* result = recordOf<csys_jobResult>(&job->result);
    if (status >= 0 && task == nullptr)
        status = csysErrNullArg;
    if (status < 0)
        return status;
    // The creator's context records are served on this thread for the run.
    csys_contextToken token;
    status = csys_contextTokenInit(&token);
    if (status >= 0)
        status = csys_contextLink(&token, nullptr, &task->creator);
    if (status < 0)
        return firstFailure(status, csys_contextTokenRelease(&token));
    csysTimeStamp before = 0;
    bool timing = timed && csys_timeNow(&before) >= 0;
    FpControl own = saveFp();
    loadFp({task->x87Control, task->mxcsr});
    // A task that was never filled has nothing to call.
    csysStatus work = task->work != nullptr ? task->work(&task->data) : csysErrNullArg;
    // The caller's own settings survive an inline run.
    loadFp(own);
    csysTimeStamp after = 0;
    if (timing && csys_timeNow(&after) >= 0 && csys_timeDiff(&result->elapsed, after, before) >= 0)
        result->timed = 1;
    result->status = work;
    status = csys_contextTokenRelease(&token);
    int32_t facility = csysFacility(work);
    if (work < 0 && facility <= 15 && facility != 3)
        return work;
    return status;
}

} // namespace

csysStatus csys_jobRecordCreate(csys_handle* slot)
{
    NewRecord<csys_jobData, destroyData> r(slot);
    return r.finish(slot);
}

csysStatus csys_jobResultCreate(csys_handle* slot)
{
    NewRecord<csys_jobResult, destroyResult> r(slot);
    return r.then([](csys_jobResult* result) {
        result->status = csysErrJobTimeout;
        return csysOk;
    }).finish(slot);
}

csysStatus csys_jobTaskNew(csys_handle* slot)
{
    NewRecord<csys_jobTask, destroyTask> r(slot);
    return r.then([](csys_jobTask* t) { return csys_jobRecordCreate(&t->data); })
        .then([](csys_jobTask* t) { return csys_threadGetCurrent(&t->creator); })
        .finish(slot);
}

csysStatus csys_jobCreate(csys_handle* slot)
{
    NewRecord<csys_job, destroyJob> r(slot);
    return r.then([](csys_job* j) { return csys_jobTaskNew(&j->task); })
        .then([](csys_job* j) { return csys_eventCreate(&j->done, 1, 0); })
        .then([](csys_job* j) { return csys_jobResultCreate(&j->result); })
        .then([](csys_job* j) {
            j->key[0] = j->key[1] = -1;
            return csysOk;
        })
        .finish(slot);
}

csysStatus csys_jobSetData(const csys_handle* record, void* blockSlot, csys_jobBlockRelease release)
{
    auto* r = recordOf<csys_jobData>(record);
    if (r == nullptr || blockSlot == nullptr)
        return csysErrNullArg;
    csysStatus status = releaseBlock(r);
    void** block = static_cast<void**>(blockSlot);
    r->block = *block;
    r->release = release;
    *block = nullptr;
    return status;
}

csysStatus csys_jobGetData(const csys_handle* record, void** block)
{
    auto* r = recordOf<csys_jobData>(record);
    if (r == nullptr || block == nullptr)
        return csysErrNullArg;
    *block = r->block;
    return csysOk;
}

csysStatus csys_jobTaskArrayCreate(csys_array* array)
{
    return csys_arrayCreate(array, 0, sizeof(csys_handle), &csys_jobTaskHandleType);
}

csysStatus csys_jobRecordArrayCreate(csys_array* array)
{
    return csys_arrayCreate(array, 0, sizeof(csys_handle), &csys_jobResultHandleType);
}

csysStatus csys_jobTaskCreate(csys_array* tasks, csys_jobWork work, csys_handle* record)
{
    if (tasks == nullptr || record == nullptr || *record == nullptr)
        return csysErrNullArg;
    csys_handle slot = nullptr;
    csysStatus status = csys_jobTaskNew(&slot);
    auto* task = recordOf<csys_jobTask>(&slot);
    if (status >= 0) {
        task->work = work;
        FpControl words = saveFp();
        task->x87Control = words.x87;
        task->mxcsr = words.mxcsr;
        status = csys_handleCopy(&task->data, record);
    }
    if (status >= 0)
        status = csys_arrayAppend(tasks, &slot);
    if (status >= 0)
        status = csys_jobRecordCreate(record);
    return firstFailure(status, csys_handleRelease(&slot));
}

csysStatus csys_jobWaitInit(csys_jobWait* wait)
{
    if (wait == nullptr)
        return csysErrNullArg;
    wait->group = nullptr;
    wait->time = 0;
    return csys_arrayCreate(&wait->jobs, 0, sizeof(csys_handle), &csys_jobHandleType);
}

csysStatus csys_jobWaitDestroy(csys_jobWait* wait)
{
    if (wait == nullptr)
        return csysErrNullArg;
    return firstFailure(csys_handleRelease(&wait->group), freeArray(&wait->jobs));
}

csysStatus csys_jobRunAndWait(const csys_handle* group, const csys_array* tasks, csys_array* results)
{
    csys_jobWait wait;
    csysStatus status = csys_jobWaitInit(&wait);
    if (status >= 0)
        status = csys_jobSubmit(group, tasks, &wait);
    if (status >= 0)
        status = csys_jobWaitResults(&wait, HUGE_VAL, results);
    return firstFailure(status, csys_jobWaitDestroy(&wait));
}

csysStatus csys_jobSubmit(const csys_handle* group, const csys_array* tasks, csys_jobWait* wait)
{
    if (tasks == nullptr || wait == nullptr)
        return csysErrNullArg;
    csysStatus status = csys_timeNow(&wait->time);
    // A reused wait record must not keep jobs that already ran: their done
    // events are set and would hand out the earlier results.
    if (status >= 0)
        status = csys_arrayResize(&wait->jobs, 0);
    if (status >= 0)
        status = csys_arrayResize(&wait->jobs, tasks->length);
    if (status < 0)
        return status;
    if (group == nullptr || *group == nullptr) {
        for (int32_t i = 0; status >= 0 && i < tasks->length; ++i) {
            auto* job = recordOf<csys_job>(handleAt(&wait->jobs, i));
            status = job != nullptr ? csys_handleCopy(&job->task, handleAt(tasks, i)) : csysErrNullArg;
            if (status >= 0)
                status = csys_jobRun(job);
        }
        return status;
    }
    status = csys_jobEnsureInit();
    const csysJobState& state = csys_jobState();
    if (status >= 0)
        status = csys_csEnter(state.criticalSection, nullptr);
    if (status < 0)
        return status;
    csys_handle queue = nullptr;
    csys_handle jobThread = nullptr;
    int32_t word1 = 0;
    int32_t isJobThread = 0;
    int32_t key[2] = {-1, -1};
    auto* g = recordOf<csys_jobGroup>(group);
    status = g != nullptr ? csys_handleCopy(&queue, &g->queue) : csysErrNoGroup;
    if (status >= 0)
        status = csys_handleCopy(&wait->group, group);
    if (status >= 0)
        status = csys_threadCurrentGetJobWords(&word1, &isJobThread, &key[0], &key[1], &jobThread);
    status = firstFailure(status, csys_csLeave(state.criticalSection));
    if (status >= 0)
        status = csys_jobQueuePush(&queue, tasks, &wait->jobs, key);
    // A job thread runs its own submission rather than wait on workers that
    // may all be busy.
    if (status >= 0 && isJobThread != 0 && jobThread != nullptr)
        status = csys_jobHelp(recordOf<csys_jobThread>(&jobThread), &queue, key);
    status = firstFailure(status, csys_handleRelease(&jobThread));
    return firstFailure(status, csys_handleRelease(&queue));
}

csysStatus csys_jobQueuePush(const csys_handle* queue, const csys_array* tasks, csys_array* jobs, const int32_t key[2])
{
    auto* q = recordOf<csys_jobQueue>(queue);
    if (q == nullptr || tasks == nullptr || jobs == nullptr || key == nullptr)
        return csysErrNullArg;
    if (tasks->length == 0)
        return csysOk;
    csysStatus status = jobs->length < tasks->length ? csys_arrayResize(jobs, tasks->length) : csysOk;
    for (int32_t i = 0; status >= 0 && i < tasks->length; ++i) {
        auto* job = recordOf<csys_job>(handleAt(jobs, i));
        if (job == nullptr)
            return csysErrNullArg;
        status = csys_handleCopy(&job->task, handleAt(tasks, i));
        job->key[0] = key[0];
        job->key[1] = key[1];
    }
    if (status >= 0)
        status = csys_csEnter(&q->section, nullptr);
    if (status < 0)
        return status;
    // Without workers nothing would ever run the jobs: the last worker to
    // leave has already run what was pending.
    if (__atomic_load_n(&q->closed, __ATOMIC_ACQUIRE) != 0 || q->workers.length == 0) {
        status = csys_csLeave(&q->section);
        return firstFailure(status, runAll(jobs, tasks->length));
    }
    for (int32_t i = 0; status >= 0 && i < tasks->length; ++i)
        status = csys_arrayAppend(&q->pending, handleAt(jobs, i));
    csys_array workers = {};
    status = firstFailure(status, csys_arrayCreateCopy(&workers, &q->workers));
    status = firstFailure(status, csys_csLeave(&q->section));
    for (int32_t i = 0; status >= 0 && i < workers.length; ++i)
        status = csys_jobThreadWake(recordOf<csys_jobThread>(handleAt(&workers, i)));
    return firstFailure(status, freeArray(&workers));
}

csysStatus csys_jobQueueTake(const csys_handle* queue, const int32_t key[2], int32_t* found, csys_handle* job)
{
    auto* q = recordOf<csys_jobQueue>(queue);
    if (q == nullptr || key == nullptr || found == nullptr || job == nullptr)
        return csysErrNullArg;
    *found = 0;
    csysStatus status = csys_csEnter(&q->section, nullptr);
    if (status < 0)
        return status;
    for (int32_t i = 0; i < q->pending.length; ++i) {
        auto* candidate = recordOf<csys_job>(handleAt(&q->pending, i));
        if (candidate == nullptr || candidate->key[0] != key[0] || candidate->key[1] != key[1])
            continue;
        status = csys_handleCopy(job, handleAt(&q->pending, i));
        if (status >= 0)
            status = csys_arrayErase(&q->pending, handleAt(&q->pending, i));
        *found = status >= 0 ? 1 : 0;
        break;
    }
    return firstFailure(status, csys_csLeave(&q->section));
}

csysStatus csys_jobHelp(csys_jobThread* thread, const csys_handle* queue, const int32_t key[2])
{
    if (thread == nullptr)
        return csysErrNullArg;
    exchange(&thread->busy, 1);
    // Every job of the submission is run even after a failure: left pending,
    // it could wait for a worker that is this very thread.
    csysStatus status = csysOk;
    for (;;) {
        int32_t found = 0;
        csys_handle job = nullptr;
        csysStatus taken = csys_jobQueueTake(queue, key, &found, &job);
        if (taken >= 0 && found != 0)
            status = firstFailure(status, csys_jobRun(recordOf<csys_job>(&job)));
        taken = firstFailure(taken, csys_handleRelease(&job));
        if (taken < 0 || found == 0) {
            status = firstFailure(status, taken);
            break;
        }
    }
    exchange(&thread->busy, 0);
    return status;
}

csysStatus csys_jobRun(csys_job* job, bool timed)
{
    if (job == nullptr)
        return csysErrNullArg;
    csysStatus status = runTask(job, timed);
    csysStatus signalled = csys_eventSet(&job->done);
    return status >= 0 && signalled < 0 ? signalled : status;
}

csysStatus csys_jobWaitDone(csys_job* job, double seconds)
{
    if (job == nullptr)
        return csysErrNullArg;
    if (std::isnan(seconds) || seconds < 0)
        return csysErrNegativeTimeout;
    double milliseconds = seconds * 1000.0;
    uint32_t limit = csysWaitForever;
    if (milliseconds < 2147483647.0)
        limit = static_cast<uint32_t>(milliseconds + 0.5);
    int32_t signalled = 0;
    csysStatus status = csys_eventWait(&job->done, limit, &signalled);
    return status < 0 ? status : signalled != 0 ? csysOk : csysErrJobTimeout;
}

csysStatus csys_jobWaitResults(csys_jobWait* wait, double seconds, csys_array* results)
{
    if (wait == nullptr || results == nullptr)
        return csysErrNullArg;
    csysStatus status = csys_arrayResize(results, 0);
    for (int32_t i = wait->jobs.length - 1; status >= 0 && i >= 0; --i)
        status = csys_jobWaitDone(recordOf<csys_job>(handleAt(&wait->jobs, i)), seconds);
    if (status >= 0)
        status = csys_arrayResize(results, wait->jobs.length);
    if (status < 0)
        return status;
    csysStatus first = csysOk;
    for (int32_t i = 0; i < wait->jobs.length; ++i) {
        auto* job = recordOf<csys_job>(handleAt(&wait->jobs, i));
        first = firstFailure(first, csys_jobWaitDone(job, 0));
        status = csys_handleCopy(handleAt(results, i), &job->result);
        if (status < 0)
            return status;
        // A run whose result could not be made left the slot empty.
        auto* result = recordOf<csys_jobResult>(&job->result);
        csysStatus ran = result != nullptr ? result->status : csysErrJobTimeout;
        if (ran < 0)
            first = firstFailure(first, ran);
    }
    return first;
}

csysStatus csys_jobQueueMoveWorker(int32_t mode, const csys_handle* queue, const csys_handle* thread)
{
    auto* q = recordOf<csys_jobQueue>(queue);
    auto* t = recordOf<csys_jobThread>(thread);
    if (q == nullptr || t == nullptr)
        return csysOk;
    csys_array taken = {};
    csysStatus status = csys_arrayCreate(&taken, 0, sizeof(csys_handle), &csys_jobHandleType);
    if (status >= 0)
        status = csys_csEnter(&q->section, nullptr);
    if (status < 0)
        return firstFailure(status, freeArray(&taken));
    int32_t index = -1;
    for (int32_t i = 0; i < q->workers.length && index < 0; ++i) {
        auto* worker = recordOf<csys_jobThread>(handleAt(&q->workers, i));
        if (worker != nullptr && worker->id == t->id)
            index = i;
    }
    if (mode == 0 && index >= 0) {
        status = csys_arrayErase(&q->workers, handleAt(&q->workers, index));
        // The last worker takes the queue's pending jobs with it.
        if (status >= 0 && q->workers.length == 0)
            status = csys_arraySwap(&taken, &q->pending);
    } else if (mode == 1 && index < 0) {
        status = csys_arrayAppend(&q->workers, thread);
    }
    status = firstFailure(status, csys_csLeave(&q->section));
    status = firstFailure(status, runAll(&taken, taken.length));
    return firstFailure(status, freeArray(&taken));
}

csysStatus csys_jobThreadSetQueue(const csys_handle* thread, const csys_handle* group, const csys_handle* queue)
{
    auto* t = recordOf<csys_jobThread>(thread);
    if (t == nullptr || group == nullptr || queue == nullptr)
        return csysErrNullArg;
    csysStatus status = csys_jobEnsureInit();
    const csysJobState& state = csys_jobState();
    // The thread's queue is written under the job critical section; its
    // workers are moved outside it, since the leaving one may run jobs.
    csys_handle old = nullptr;
    if (status >= 0)
        status = csys_csEnter(state.criticalSection, nullptr);
    if (status >= 0) {
        status = csys_handleCopy(&old, &t->queue);
        status = firstFailure(status, csys_csLeave(state.criticalSection));
    }
    if (status >= 0 && old != *queue) {
        status = csys_jobQueueMoveWorker(0, &old, thread);
        status = firstFailure(status, csys_jobQueueMoveWorker(1, queue, thread));
    }
    status = firstFailure(status, csys_handleRelease(&old));
    if (status >= 0)
        status = csys_csEnter(state.criticalSection, nullptr);
    if (status < 0)
        return status;
    status = csys_handleCopy(&t->queue, queue);
    if (status >= 0 && t->thread != nullptr)
        status = csys_threadSetJobHandle(&t->thread, group);
    status = firstFailure(status, csys_csLeave(state.criticalSection));
    return firstFailure(status, csys_jobThreadWake(t));
}

csysStatus csys_jobThreadWake(csys_jobThread* thread)
{
    if (thread == nullptr)
        return csysErrNullArg;
    csysStatus status = csys_csEnter(&thread->section, nullptr);
    if (status < 0)
        return status;
    exchange(&thread->wakeFlag, 1);
    status = csys_eventSet(&thread->wake);
    return firstFailure(status, csys_csLeave(&thread->section));
}

csysStatus csys_jobThreadStop(csys_jobThread* thread)
{
    if (thread == nullptr)
        return csysErrNullArg;
    csysStatus status = csys_csEnter(&thread->section, nullptr);
    if (status < 0)
        return status;
    thread->stop = 1;
    status = csys_csLeave(&thread->section);
    return firstFailure(status, csys_jobThreadWake(thread));
}
