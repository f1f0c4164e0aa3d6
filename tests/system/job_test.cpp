#include <algorithm>
#include <cfenv>
#include <cmath>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment_testing.h"
#include "platform/module.h"
#include "system/csys_job.h"
#include "system/csys_job_testing.h"
#include "system/csys_memory.h"
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
            REQUIRE(csys_jobDataLibraryPath() == (c.loaded ? dir.wide() + c.loaded : L"mxtgdata.so"));
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
    const struct { std::vector<int32_t> statuses; size_t runs; csysStatus result; } cases[] = {
        {{1, 2, 3}, 3, csysOk}, {{kFacility3, kFacility16, 4}, 3, kFacility3}, {{5, csysErrFail, 6}, 2, csysErrFail}};
    for (const auto& c : cases) {
        Tasks t(c.statuses);
        EXPECT_EQ(csys_jobRunAndWait(&t.none, &t.tasks, &t.results), c.result);
        EXPECT_EQ(ran, std::vector<int32_t>(c.statuses.begin(), c.statuses.begin() + c.runs));
        for (int32_t i = 0; i < t.results.length; ++i)
            EXPECT_EQ(t.result(i)->status + t.result(i)->timed + t.result(i)->elapsed, c.statuses[i]);
    }
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

} // namespace
