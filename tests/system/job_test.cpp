#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cmath>
#include <filesystem>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment_testing.h"
#include "platform/module.h"
#include "system/csys_job.h"
#include "system/csys_job_testing.h"
#include "system/csys_memory.h"
#include "system/csys_shutdown.h"
#include "tests/support/child_check.h"
#include "tests/support/temp_dir.h"

namespace {

const std::wstring kLibrary = TempDir::ascii(QORX_MXTGDATA_FILE);

struct Folders : TempDir {
    Folders()
    {
        for (const char* folder : {"m/bin", "v/exe/Release"}) {
            std::filesystem::create_directories(path + folder);
            std::filesystem::create_symlink(QORX_MXTGDATA_FILE, path + folder + "/mxtgdata.so");
        }
    }
};

// In children, since a bound library stays bound. Null: unset, or the bare name.
TEST(JobBinding, FindsTheLibraryInOrder)
{
    Folders dir;
    const struct {
        const char *mrlmRoot, *rootVx;
        const wchar_t* loaded;
    } cases[] = {{"m", "v", L"m/bin/mxtgdata.so"}, {"none", "v", L"v/exe/Release/mxtgdata.so"},
                 {"none", nullptr, nullptr}};
    for (const auto& c : cases) {
        auto scenario = [&] {
            plat::unsetEnvironmentVariable(L"ROOT_VX");
            plat::setEnvironmentVariable(L"MRLM_ROOT", dir.wide(c.mrlmRoot));
            if (c.rootVx != nullptr)
                plat::setEnvironmentVariable(L"ROOT_VX", dir.wide(c.rootVx));
            if (c.loaded == nullptr)
                REQUIRE(plat::loadModule(kLibrary) != nullptr); // the search finds what is loaded
            REQUIRE(csys_jobStateCell(csysJobCellAllClientThreads) != nullptr);
            REQUIRE(csys_jobDataLibraryPath() == (c.loaded ? dir.wide() + c.loaded : kLibrary));
        };
        EXPECT_EXIT((scenario(), childExit(0)), ::testing::ExitedWithCode(0), "");
    }
}

TEST(JobState, WithoutTheLibraryRunsInlineAndRetriesTheLoad)
{
    Folders dir;
    auto scenario = [&] {
        plat::unsetEnvironmentVariable(L"MRLM_ROOT");
        plat::unsetEnvironmentVariable(L"ROOT_VX");
        int32_t count = 0;
        csys_handle group = nullptr; // stays empty: inline
        REQUIRE(csys_jobEnterClient(&count, &group) == csysOk && count == 1 && group == nullptr);
        REQUIRE(csys_jobStateCell(csysJobCellIsEnabled) == nullptr);
        plat::setEnvironmentVariable(L"MRLM_ROOT", dir.wide("m"));
        auto* enabled = static_cast<int32_t*>(csys_jobStateCell(csysJobCellIsEnabled));
        REQUIRE(enabled != nullptr && csys_jobEnsureInit() == csysOk);
        const csysJobState& s = csys_jobState();
        *s.configurationId = 0xFFFFFFFEu; // skips 0xFFFFFFFF; a client is listed once
        for (int i = 0; i < 2; ++i)
            REQUIRE(csys_jobRegisterClient(nullptr, s.defaultThreadGroup) == csysOk);
        REQUIRE(*s.configurationId == 1 && s.allClientThreads->length == 1);
        // Enabled, but the default group has no started job thread: inline.
        *enabled = 1;
        REQUIRE(csys_jobEnterClient(&count, &group) == csysOk && count == 1 && group == nullptr);
        // After the release another module initialises afresh.
        REQUIRE(csys_jobShutdown(nullptr) == csysOk && *enabled == 0 && s.allClientThreads->length == 0);
        REQUIRE(csys_jobReleaseState(nullptr) == csysOk && *s.isInitialized == 0);
    };
    EXPECT_EXIT((scenario(), childExit(0)), ::testing::ExitedWithCode(0), "");
}

// A braced list runs its calls in order.
bool allOk(std::initializer_list<csysStatus> statuses)
{
    return std::all_of(statuses.begin(), statuses.end(), [](csysStatus s) { return s == csysOk; });
}

std::vector<int32_t> ran;
int seenRounding;

csysStatus recordRun(csys_handle* record)
{
    int32_t* block = nullptr;
    EXPECT_EQ(csys_jobGetData(record, reinterpret_cast<void**>(&block)), csysOk);
    ran.push_back(*block);
    seenRounding = std::fegetround();
    std::fesetround(FE_UPWARD);
    return *block;
}

// One task per status, each task's block holding its status; results to wait into.
struct Tasks {
    explicit Tasks(const std::vector<int32_t>& statuses)
    {
        csys_handle record = nullptr;
        EXPECT_EQ(csys_jobTaskArrayCreate(&tasks) | csys_jobRecordArrayCreate(&results) | csys_jobRecordCreate(&record),
                  csysOk);
        for (int32_t status : statuses) {
            int32_t* block = nullptr;
            EXPECT_EQ(csys_alloc(sizeof(int32_t), &block), csysOk);
            *block = status;
            void* fresh = &record; // after the task took the block, the slot holds a new record
            EXPECT_TRUE(allOk({csys_jobSetData(&record, &block, nullptr),
                               csys_jobTaskCreate(&tasks, &recordRun, &record), csys_jobGetData(&record, &fresh)}));
            EXPECT_EQ(fresh, nullptr);
        }
        EXPECT_EQ(csys_handleRelease(&record), csysOk);
        ran.clear();
    }
    ~Tasks() { EXPECT_EQ(csys_arrayFree(&tasks) | csys_arrayFree(&results), csysOk); }
    auto* result(int32_t i) const
    {
        return static_cast<csys_jobResult*>(static_cast<csys_handle*>(results.data)[i]->payload);
    }
    csys_array tasks, results;
    csys_handle none = nullptr;
};

TEST(JobSubmit, WithoutAGroupRunsInlineUntilASystemFailure)
{
    constexpr int32_t kFacility3 = csysMakeStatus(0x80000061u), kFacility16 = csysMakeStatus(0x80000201u);
    constexpr int32_t kFacility15 = csysMakeStatus(0x800001E1u);
    const struct { std::vector<int32_t> statuses; size_t runs; csysStatus result; } cases[] = {
        {{1, 2, 3}, 3, csysOk}, {{kFacility3, kFacility16, 4}, 3, kFacility3}, {{5, csysErrFail, 6}, 2, csysErrFail},
        {{kFacility15, 7}, 1, kFacility15}};
    for (const auto& c : cases) {
        Tasks t(c.statuses);
        EXPECT_EQ(csys_jobRunAndWait(&t.none, &t.tasks, &t.results), c.result);
        EXPECT_EQ(ran, std::vector<int32_t>(c.statuses.begin(), c.statuses.begin() + c.runs));
        for (int32_t i = 0; i < t.results.length; ++i)
            EXPECT_EQ(t.result(i)->status + t.result(i)->timed + t.result(i)->elapsed, c.statuses[i]);
    }
}

csys_job* jobAt(const csys_array& jobs, int32_t i)
{
    return static_cast<csys_job*>(static_cast<csys_handle*>(jobs.data)[i]->payload);
}

TEST(JobWait, GivesResultsInJobOrderAndTheFirstFailureAmongThemWhateverOrderTheyRanIn)
{
    constexpr int32_t kFacility3 = csysMakeStatus(0x80000061u);
    const std::vector<int32_t> statuses = {5, kFacility3, csysErrFail};
    Tasks t(statuses);
    csys_jobWait wait;
    ASSERT_TRUE(allOk({csys_jobWaitInit(&wait), csys_arrayResize(&wait.jobs, 3), csys_arrayResize(&t.results, 1)}));
    for (int32_t i = 0; i < 3; ++i)
        ASSERT_EQ(csys_handleCopy(&jobAt(wait.jobs, i)->task, static_cast<csys_handle*>(t.tasks.data) + i), csysOk);
    EXPECT_EQ(csys_jobRun(jobAt(wait.jobs, 2)), csysErrFail);
    EXPECT_EQ(csys_jobRun(jobAt(wait.jobs, 0)), csysOk);
    // The middle one has not run: nothing is handed out.
    EXPECT_EQ(csys_jobWaitResults(&wait, 0, &t.results), csysErrJobTimeout);
    EXPECT_EQ(t.results.length, 0);
    EXPECT_EQ(csys_jobRun(jobAt(wait.jobs, 1)), csysOk);
    EXPECT_EQ(csys_jobWaitResults(&wait, 0, &t.results), kFacility3);
    ASSERT_EQ(t.results.length, 3);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(t.result(i)->status, statuses[i]);
    EXPECT_EQ(csys_jobWaitDestroy(&wait), csysOk);
}

TEST(JobTask, ATaskNeverFilledIsRefusedAndANewResultSaysNotRun)
{
    Tasks t({});
    ASSERT_EQ(csys_arrayResize(&t.tasks, 1) | csys_arrayResize(&t.results, 1), csysOk);
    const csys_jobResult fresh = *t.result(0);
    EXPECT_EQ(std::make_tuple(fresh.status, fresh.timed, fresh.elapsed, fresh.block),
              std::make_tuple(csysErrJobTimeout, 0, csysTimeStamp{0}, nullptr));
    EXPECT_EQ(csys_jobRunAndWait(&t.none, &t.tasks, &t.results), csysErrNullArg);
}

std::vector<void*> released;

csysStatus releaseNoting(void* slot)
{
    released.push_back(*static_cast<void**>(slot));
    return csys_free(slot);
}

TEST(JobData, TheRecordOwnsItsBlockAndReleasesItWithTheBlocksOwnFunction)
{
    csys_handle record = nullptr;
    void *a = nullptr, *b = nullptr, *c = nullptr;
    ASSERT_TRUE(allOk({csys_jobRecordCreate(&record), csys_alloc(4, &a), csys_alloc(4, &b), csys_alloc(4, &c)}));
    void* const blocks[] = {a, b, c};
    released.clear();
    // b goes with csys_free when c replaces it; a leak would show under the sanitizer.
    EXPECT_TRUE(allOk({csys_jobSetData(&record, &a, &releaseNoting), csys_jobSetData(&record, &b, nullptr),
                       csys_jobSetData(&record, &c, &releaseNoting)}));
    void* held = nullptr;
    EXPECT_EQ(csys_jobGetData(&record, &held), csysOk);
    EXPECT_EQ(std::make_tuple(a, b, c, held), std::make_tuple(nullptr, nullptr, nullptr, blocks[2]));
    EXPECT_EQ(csys_handleRelease(&record), csysOk);
    EXPECT_EQ(released, (std::vector<void*>{blocks[0], blocks[2]}));
}

TEST(JobHelp, RunsOnlyItsOwnSubmissionsJobsInOrderEvenPastAFailure)
{
    csys_handle queue = nullptr, worker = nullptr, helper = nullptr;
    ASSERT_EQ(csys_jobQueueCreate(&queue) | csys_jobThreadCreate(&worker) | csys_jobThreadCreate(&helper), csysOk);
    ASSERT_EQ(csys_jobQueueMoveWorker(1, &queue, &worker), csysOk);
    Tasks before({12}), mine({csysErrFail, 11}), after({13});
    csys_jobWait waits[3];
    const int32_t keys[3][2] = {{1, 2}, {1, 1}, {2, 1}};
    const Tasks* submissions[3] = {&before, &mine, &after};
    for (int32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(allOk({csys_jobWaitInit(&waits[i]),
                           csys_jobQueuePush(&queue, &submissions[i]->tasks, &waits[i].jobs, keys[i])}));
    auto* h = static_cast<csys_jobThread*>(helper->payload);
    EXPECT_EQ(csys_jobHelp(h, &queue, keys[1]), csysErrFail);
    EXPECT_EQ(ran, (std::vector<int32_t>{csysErrFail, 11}));
    EXPECT_EQ(h->busy, 0);
    EXPECT_EQ(csys_jobWaitResults(&waits[1], 0, &mine.results), csysErrFail);
    EXPECT_EQ(csys_jobQueueMoveWorker(0, &queue, &worker), csysOk);
    EXPECT_EQ(ran, (std::vector<int32_t>{csysErrFail, 11, 12, 13}));
    for (auto& wait : waits)
        EXPECT_EQ(csys_jobWaitDestroy(&wait), csysOk);
    EXPECT_EQ(csys_handleRelease(&worker) | csys_handleRelease(&helper) | csys_handleRelease(&queue), csysOk);
}

TEST(JobWait, TimesOutUntilTheLastWorkerLeavesAndRunsThePending)
{
    csys_handle queue = nullptr, worker = nullptr;
    ASSERT_EQ(csys_jobQueueCreate(&queue) | csys_jobThreadCreate(&worker), csysOk);
    ASSERT_EQ(csys_jobQueueMoveWorker(1, &queue, &worker), csysOk);
    Tasks t({7, 8});
    csys_jobWait wait;
    const int32_t key[2] = {1, 2};
    ASSERT_TRUE(allOk({csys_jobWaitInit(&wait), csys_jobQueuePush(&queue, &t.tasks, &wait.jobs, key)}));
    for (double seconds : {-1.0, std::nan("")})
        EXPECT_EQ(csys_jobWaitResults(&wait, seconds, &t.results), csysErrNegativeTimeout);
    for (double seconds : {0.0, 0.0004, 0.002})
        EXPECT_EQ(csys_jobWaitResults(&wait, seconds, &t.results), csysErrJobTimeout);
    EXPECT_EQ(t.results.length + ran.size(), 0u);
    ASSERT_EQ(csys_jobQueueMoveWorker(0, &queue, &worker), csysOk);
    EXPECT_EQ(ran, (std::vector<int32_t>{7, 8}));
    EXPECT_EQ(csys_jobWaitResults(&wait, 2147483.647, &t.results) + t.results.length, 2);
    EXPECT_EQ(csys_jobWaitDestroy(&wait) | csys_handleRelease(&worker) | csys_handleRelease(&queue), csysOk);
}

TEST(JobTask, RunsWithItsCreatorsRoundingAndLeavesTheCallersAlone)
{
    std::fesetround(FE_DOWNWARD);
    Tasks t({0});
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(csys_jobRunAndWait(&t.none, &t.tasks, &t.results), csysOk);
    EXPECT_EQ(std::make_pair(seenRounding, std::fegetround()), std::make_pair(FE_DOWNWARD, FE_TONEAREST));
}

// Binds the library from a folder of its own; for children only.
void bindIn(const Folders& dir)
{
    plat::unsetEnvironmentVariable(L"ROOT_VX");
    plat::setEnvironmentVariable(L"MRLM_ROOT", dir.wide("m"));
    REQUIRE(csys_jobEnsureInit() == csysOk);
}

// A client thread is refused if it is a job thread or names no group, else
// listed with the latest group it named until it ends.
TEST(JobClient, RefusesJobThreadsAndEmptyGroupsTakesTheLatestGroupAndLeavesWhenItsThreadEnds)
{
    Folders dir;
    auto scenario = [&] {
        bindIn(dir);
        const csysJobState& s = csys_jobState();
        csys_threadObject* self = nullptr;
        REQUIRE(csys_threadGetCurrentObject(&self) == csysOk);
        csys_handle none = nullptr;
        const struct { int32_t jobThread; const csys_handle* group; csysStatus status; } cases[] = {
            {1, s.defaultThreadGroup, csysErrJobClient}, {0, &none, csysErrNoGroup}};
        for (const auto& c : cases) {
            self->jobWords[1] = c.jobThread;
            REQUIRE(csys_jobRegisterClient(nullptr, c.group) == c.status && s.allClientThreads->length == 0);
        }
        csys_handle other = nullptr, held = nullptr;
        REQUIRE(csys_jobGroupCreate(&other) == csysOk);
        std::thread client([&] {
            csys_threadHandle self = nullptr;
            REQUIRE(allOk({csys_jobRegisterClient(nullptr, s.defaultThreadGroup),
                           csys_jobRegisterClient(nullptr, &other), csys_threadGetCurrent(&self),
                           csys_threadGetJobHandle(&self, &held), csys_threadHandleRelease(&self)}));
            REQUIRE(s.allClientThreads->length == 1);
        });
        client.join();
        REQUIRE(held == other && s.allClientThreads->length == 0);
        // Entering empties the out slot by letting go of what it held: held
        // is left with the only reference.
        int32_t count = 0;
        REQUIRE(csys_jobEnterClient(&count, &other) == csysOk && count == 1 && other == nullptr);
        REQUIRE(*held->count == 1 && csys_handleRelease(&held) == csysOk);
    };
    EXPECT_EXIT((scenario(), childExit(0)), ::testing::ExitedWithCode(0), "");
}

TEST(JobSubmit, AReusedWaitRecordWaitsForItsNewJobs)
{
    Folders dir;
    auto scenario = [&] {
        bindIn(dir);
        csys_handle group = nullptr, worker = nullptr;
        REQUIRE(csys_jobGroupCreate(&group) == csysOk && csys_jobThreadCreate(&worker) == csysOk);
        auto* g = static_cast<csys_jobGroup*>(group->payload);
        REQUIRE(csys_jobQueueMoveWorker(1, &g->queue, &worker) == csysOk);
        Tasks inline_({1, 2}), queued({3, 4});
        csys_jobWait wait;
        REQUIRE(allOk({csys_jobWaitInit(&wait), csys_jobSubmit(&inline_.none, &inline_.tasks, &wait),
                       csys_jobSubmit(&group, &queued.tasks, &wait)}));
        REQUIRE(ran == (std::vector<int32_t>{1, 2}));
        REQUIRE(csys_jobWaitResults(&wait, 0, &queued.results) == csysErrJobTimeout);
        REQUIRE(csys_jobQueueMoveWorker(0, &g->queue, &worker) == csysOk);
        REQUIRE(csys_jobWaitResults(&wait, 0, &queued.results) == csysOk && queued.result(0)->status == 3);
        REQUIRE(allOk({csys_jobWaitDestroy(&wait), csys_handleRelease(&worker), csys_handleRelease(&group)}));
    };
    EXPECT_EXIT((scenario(), childExit(0)), ::testing::ExitedWithCode(0), "");
}

// With a worker and open, it waits for the worker (JobWait above).
TEST(JobQueue, PushRunsAtOnceWhenClosedOrWithoutWorkers)
{
    for (const bool closedWithWorker : {true, false}) {
        csys_handle queue = nullptr, worker = nullptr;
        ASSERT_EQ(csys_jobQueueCreate(&queue) | csys_jobThreadCreate(&worker), csysOk);
        if (closedWithWorker) {
            ASSERT_EQ(csys_jobQueueMoveWorker(1, &queue, &worker), csysOk);
        }
        static_cast<csys_jobQueue*>(queue->payload)->closed = closedWithWorker;
        Tasks t({3, 4});
        csys_jobWait wait;
        const int32_t key[2] = {0, 0};
        ASSERT_TRUE(allOk({csys_jobWaitInit(&wait), csys_jobQueuePush(&queue, &t.tasks, &wait.jobs, key)}));
        EXPECT_EQ(ran, (std::vector<int32_t>{3, 4})) << closedWithWorker;
        EXPECT_EQ(csys_jobWaitResults(&wait, 0, &t.results), csysOk);
        EXPECT_EQ(csys_jobQueueMoveWorker(0, &queue, &worker) | csys_jobWaitDestroy(&wait), csysOk);
        EXPECT_EQ(ran.size(), 2u); // nothing runs twice
        EXPECT_EQ(csys_handleRelease(&worker) | csys_handleRelease(&queue), csysOk);
    }
}

// A stand-in worker loop: sleeps on its wake event until told to stop.
void serve(csys_jobThread* t, std::promise<void>* ready, std::atomic<bool>* ended)
{
    REQUIRE(csys_csEnter(&t->section, nullptr) == csysOk && csys_threadGetCurrent(&t->thread) == csysOk &&
            csys_csLeave(&t->section) == csysOk);
    ready->set_value();
    for (int32_t stop = 0; stop == 0;) {
        int32_t signalled = 0;
        REQUIRE(csys_eventWait(&t->wake, csysWaitForever, &signalled) == csysOk);
        REQUIRE(csys_csEnter(&t->section, nullptr) == csysOk);
        stop = t->stop;
        REQUIRE(csys_csLeave(&t->section) == csysOk);
    }
    // Lingers a little, so that a shut-down that does not wait sees it running.
    for (int i = 0; i < 1000; ++i)
        std::this_thread::yield();
    ended->store(true);
}

TEST(JobShutdown, ClosesTheGroupsRunsThePendingAndJoinsTheJobThreads)
{
    Folders dir;
    auto scenario = [&] {
        bindIn(dir);
        const csysJobState& s = csys_jobState();
        csys_handle group = nullptr, thread = nullptr, defaultGroup = *s.defaultThreadGroup;
        REQUIRE(csys_jobGroupCreate(&group) == csysOk && csys_jobThreadCreate(&thread) == csysOk);
        auto* g = static_cast<csys_jobGroup*>(group->payload);
        auto* t = static_cast<csys_jobThread*>(thread->payload);
        std::promise<void> ready;
        std::atomic<bool> ended{false};
        std::thread os(serve, t, &ready, &ended);
        ready.get_future().wait();
        REQUIRE(allOk({csys_arrayAppend(&g->threads, &thread), csys_arrayAppend(s.allJobThreads, &thread),
                       csys_jobThreadSetQueue(&thread, &group, &g->queue)}));
        Tasks tasks({9});
        csys_jobWait wait;
        const int32_t key[2] = {0, 0};
        REQUIRE(allOk({csys_jobWaitInit(&wait), csys_jobQueuePush(&g->queue, &tasks.tasks, &wait.jobs, key)}));
        REQUIRE(ran.empty());
        *s.isEnabled = 1;
        REQUIRE(csys_jobShutdown(nullptr) == csysOk && ended.load());
        os.join();
        auto* q = static_cast<csys_jobQueue*>(g->queue->payload);
        REQUIRE(g->closing == 1 && q->closed == 1 && *s.defaultThreadGroup != defaultGroup);
        REQUIRE(g->threads.length == 0 && q->workers.length == 0 && s.allJobThreads->length == 0);
        REQUIRE(ran == std::vector<int32_t>{9} && csys_jobWaitResults(&wait, 0, &tasks.results) == csysOk &&
                tasks.result(0)->status == 9);
        REQUIRE(allOk({csys_jobWaitDestroy(&wait), csys_handleRelease(&thread), csys_handleRelease(&group)}));
    };
    EXPECT_EXIT((scenario(), childExit(0)), ::testing::ExitedWithCode(0), "");
}

} // namespace
