// The shut-down state is process-wide and one-shot: each scenario runs in a
// fresh child process and exits 0 when every check held.
#include "system/csys_shutdown.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/sync.h"
#include "platform/thread.h"
#include "system/csys_memory_testing.h"
#include "system/csys_sync.h"
#include "tests/support/child_check.h"
#include "tests/support/child_exit.h"

namespace {

// Handlers append their name and note the thread they ran on.
std::string gCalls;
std::atomic<uint32_t> gList0Thread{0};

template <char Name, csysStatus Result>
csysStatus handler(void*)
{
    gCalls += Name;
    return Result;
}

csysStatus list0Probe(void*)
{
    gCalls += '0';
    gList0Thread = plat::currentThreadId();
    return csysOk;
}

csysStatus succeed(void*) { return csysOk; }

class CsysShutdown : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

void listsRunLastFirstListOneFirst()
{
    csys_threadHandle self = nullptr;
    REQUIRE(csys_threadGetCurrent(&self) == csysOk);
    REQUIRE(csys_threadHandleRelease(&self) == csysOk);
    REQUIRE(csys_atThreadExit(nullptr, &handler<'e', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'A', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'X', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'B', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'C', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'Y', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(nullptr, nullptr) == csysErrNullArg);
    int32_t onceFlag = 0;
    REQUIRE(csys_once(&succeed, nullptr, &onceFlag) == csysOk);

    // The caller's own exit handler runs as it detaches, before the lists.
    REQUIRE(csys_shutdown() == csysOk);
    REQUIRE(gCalls == "eYXCBA");
    REQUIRE(csys_shutdown() == csysShutdownAlreadyDone);
    REQUIRE(gCalls == "eYXCBA");

    // After the end nothing registers and no record is made.
    REQUIRE(csys_atShutdown0(&handler<'Z', csysOk>, nullptr) == csysErrShutDown);
    REQUIRE(csys_atShutdown1(&handler<'Z', csysOk>, nullptr) == csysErrShutDown);
    REQUIRE(csys_atThreadExit(nullptr, &handler<'Z', csysOk>, nullptr) == csysErrShutDown);
    REQUIRE(csys_threadGetCurrent(&self) == csysErrShutDown);
    int32_t has = 1;
    REQUIRE(csys_threadHasRecord(&has) == csysOk && has == 0);
    // A flag already set stays answered; a new one cannot be initialised.
    REQUIRE(csys_once(&succeed, nullptr, &onceFlag) == csysOk);
    int32_t lateFlag = 0;
    REQUIRE(csys_once(&succeed, nullptr, &lateFlag) == csysErrShutDown);
    REQUIRE(lateFlag == 0);
    childExit(0);
}

TEST_F(CsysShutdown, ListsRunLastRegisteredFirstAndListOneBeforeListZero)
{
    EXPECT_EXIT(listsRunLastFirstListOneFirst(), ::testing::ExitedWithCode(0), "");
}

void finalShutDownRunsOnTheLastThreadToDetach()
{
    csys_event attached = {}, go = {};
    REQUIRE(csys_eventCreate(&attached, 1, 0) == csysOk);
    REQUIRE(csys_eventCreate(&go, 1, 0) == csysOk);
    uint32_t otherId = 0;
    std::thread other([&] {
        otherId = plat::currentThreadId();
        csys_threadObject* object = nullptr;
        REQUIRE(csys_threadGetCurrentObject(&object) == csysOk);
        REQUIRE(csys_eventSet(&attached) == csysOk);
        REQUIRE(csys_eventWait(&go, csysWaitForever, nullptr) == csysOk);
    });
    REQUIRE(csys_eventWait(&attached, csysWaitForever, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&list0Probe, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'1', csysOk>, nullptr) == csysOk);

    REQUIRE(csys_shutdown() == csysShutdownPending);
    REQUIRE(gCalls == "1");
    REQUIRE(!csys_shutdownDone());
    // List 1 has run and takes nothing more; list 0 still does.
    REQUIRE(csys_atShutdown1(&handler<'x', csysOk>, nullptr) == csysErrShutDown);
    REQUIRE(csys_atShutdown0(&handler<'a', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_eventSet(&go) == csysOk);
    other.join();
    REQUIRE(csys_shutdownDone());
    REQUIRE(gCalls == "1a0");
    REQUIRE(gList0Thread.load() == otherId);
    REQUIRE(csys_shutdown() == csysShutdownAlreadyDone);
    childExit(0);
}

TEST_F(CsysShutdown, WithAnotherThreadAttachedItWaitsForThatThreadToDetach)
{
    EXPECT_EXIT(finalShutDownRunsOnTheLastThreadToDetach(), ::testing::ExitedWithCode(0), "");
}

void aFailureOnListOneStillRunsListZero()
{
    REQUIRE(csys_atShutdown0(&handler<'a', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'b', csysErrOsCall>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'x', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'y', csysErrNoMemory>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'z', csysOk>, nullptr) == csysOk);
    // Every entry runs; the first failure is reported; the end is reached.
    REQUIRE(csys_shutdown() == csysErrNoMemory);
    REQUIRE(gCalls == "zyxba");
    REQUIRE(csys_shutdownDone());
    REQUIRE(csys_shutdown() == csysShutdownAlreadyDone);
    childExit(0);
}

TEST_F(CsysShutdown, AFailingHandlerDoesNotStopTheListsAndTheEndIsReached)
{
    EXPECT_EXIT(aFailureOnListOneStillRunsListZero(), ::testing::ExitedWithCode(0), "");
}

void* failAllocation(size_t) { return nullptr; }
void* failReallocation(void*, size_t) { return nullptr; }
const csys_heap kExhausted = {&failAllocation, &failReallocation, &std::free};

void aFailedLockCreationIsTriedAgain()
{
    csys_setHeap(&kExhausted);
    REQUIRE(csys_atShutdown0(&handler<'a', csysOk>, nullptr) == csysErrNoMemory);
    csys_setHeap(nullptr);
    REQUIRE(csys_atShutdown0(&handler<'a', csysOk>, nullptr) == csysOk);

    // The once lock's registration fails the same way and is tried again.
    int32_t flag = 0;
    csys_setHeap(&kExhausted);
    REQUIRE(csys_once(&handler<'o', csysOk>, nullptr, &flag) == csysErrNoMemory);
    csys_setHeap(nullptr);
    REQUIRE(gCalls.empty() && flag == 0);
    REQUIRE(csys_once(&handler<'o', csysOk>, nullptr, &flag) == csysOk);
    REQUIRE(gCalls == "o" && flag == 1);

    REQUIRE(csys_shutdown() == csysOk);
    REQUIRE(gCalls == "oa");
    childExit(0);
}

TEST_F(CsysShutdown, AFailedCreationOfTheLocksIsTriedAgainByTheNextCaller)
{
    EXPECT_EXIT(aFailedLockCreationIsTriedAgain(), ::testing::ExitedWithCode(0), "");
}

void aForeignHandlerRunsOnItsThreadFirstAndTheEndFollows()
{
    csys_event attached = {}, go = {};
    REQUIRE(csys_eventCreate(&attached, 1, 0) == csysOk);
    REQUIRE(csys_eventCreate(&go, 1, 0) == csysOk);
    csys_threadHandle theirs = nullptr;
    std::thread other([&] {
        REQUIRE(csys_threadGetCurrent(&theirs) == csysOk);
        REQUIRE(csys_atThreadExit(nullptr, &handler<'o', csysOk>, nullptr) == csysOk);
        REQUIRE(csys_eventSet(&attached) == csysOk);
        REQUIRE(csys_eventWait(&go, csysWaitForever, nullptr) == csysOk);
    });
    REQUIRE(csys_eventWait(&attached, csysWaitForever, nullptr) == csysOk);
    REQUIRE(csys_atThreadExit(&theirs, &handler<'f', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'0', csysOk>, nullptr) == csysOk);
    csys_threadHandle copy = nullptr;
    REQUIRE(csys_threadHandleInitCopy(&copy, &theirs) == csysOk);
    REQUIRE(csys_shutdown() == csysShutdownPending);
    REQUIRE(csys_eventSet(&go) == csysOk);
    other.join();
    REQUIRE(gCalls == "fo0");
    // The thread's own handle to itself went with its record.
    REQUIRE(csys_threadHandleRelease(&theirs) == csysOk);
    REQUIRE(copy->references == 1 && copy->exited == 1);
    REQUIRE(csys_threadHandleRelease(&copy) == csysOk);
    childExit(0);
}

TEST_F(CsysShutdown, AForeignExitHandlerRunsBeforeTheThreadsOwnThenTheEnd)
{
    EXPECT_EXIT(aForeignHandlerRunsOnItsThreadFirstAndTheEndFollows(), ::testing::ExitedWithCode(0), "");
}

// A foreign exit handler that waits for a once-function, while that
// once-function registers on a shut-down list: the two locks must not be
// held the other way round.
struct LockOrder {
    csys_event onceEntered = {};
    csys_event handlerEntered = {};
    int32_t outerFlag = 0;
    int32_t innerFlag = 0;
    csysStatus registered = csysErrFail;
};

LockOrder* gLockOrder;

csysStatus registerOnListZero(void*)
{
    REQUIRE(csys_eventSet(&gLockOrder->onceEntered) == csysOk);
    REQUIRE(csys_eventWait(&gLockOrder->handlerEntered, csysWaitForever, nullptr) == csysOk);
    gLockOrder->registered = csys_atShutdown0(&succeed, nullptr);
    return csysOk;
}

csysStatus waitForTheOnceFunction(void*)
{
    REQUIRE(csys_eventSet(&gLockOrder->handlerEntered) == csysOk);
    return csys_once(&succeed, nullptr, &gLockOrder->innerFlag);
}

void aForeignHandlerMayWaitForAOnceFunctionThatRegisters()
{
    LockOrder order;
    gLockOrder = &order;
    REQUIRE(csys_eventCreate(&order.onceEntered, 1, 0) == csysOk);
    REQUIRE(csys_eventCreate(&order.handlerEntered, 1, 0) == csysOk);
    csys_event go = {};
    REQUIRE(csys_eventCreate(&go, 1, 0) == csysOk);
    csys_threadHandle theirs = nullptr;
    std::atomic<bool> attached{false};
    std::thread leaving([&] {
        REQUIRE(csys_threadGetCurrent(&theirs) == csysOk);
        attached = true;
        REQUIRE(csys_eventWait(&go, csysWaitForever, nullptr) == csysOk);
    });
    while (!attached)
        std::this_thread::yield();
    REQUIRE(csys_atThreadExit(&theirs, &waitForTheOnceFunction, nullptr) == csysOk);
    std::thread initialising([&] { REQUIRE(csys_once(&registerOnListZero, nullptr, &order.outerFlag) == csysOk); });
    REQUIRE(csys_eventWait(&order.onceEntered, csysWaitForever, nullptr) == csysOk);
    REQUIRE(csys_eventSet(&go) == csysOk);
    leaving.join();
    initialising.join();
    REQUIRE(order.registered == csysOk);
    REQUIRE(order.outerFlag == 1 && order.innerFlag == 1);
    REQUIRE(csys_threadHandleRelease(&theirs) == csysOk);
    childExit(0);
}

TEST_F(CsysShutdown, AForeignHandlerMayWaitForAOnceFunctionThatRegistersOnAList)
{
    EXPECT_EXIT(aForeignHandlerMayWaitForAOnceFunctionThatRegisters(), ::testing::ExitedWithCode(0), "");
}

// A detach made by one of the thread's own exit handlers, while the outer
// detach walks the table: it returns at once, the record stays until the
// outer one is done, and the thread counts out once.
struct NestedDetach {
    csysStatus status = csysErrFail;
    int32_t hadRecord = 0;
};

NestedDetach* gNested;

csysStatus detachFromAHandler(void*)
{
    gCalls += 'n';
    gNested->status = csys_threadDetach();
    REQUIRE(csys_threadHasRecord(&gNested->hadRecord) == csysOk);
    return csysOk;
}

void aDetachFromAnExitHandlerReturnsAtOnce()
{
    NestedDetach nested;
    gNested = &nested;
    csysStatus outer = csysErrFail;
    std::thread leaving([&] {
        csys_threadHandle self = nullptr;
        REQUIRE(csys_threadGetCurrent(&self) == csysOk);
        REQUIRE(csys_threadHandleRelease(&self) == csysOk);
        REQUIRE(csys_atThreadExit(nullptr, &handler<'a', csysOk>, nullptr) == csysOk);
        REQUIRE(csys_atThreadExit(nullptr, &detachFromAHandler, nullptr) == csysOk);
        REQUIRE(csys_atThreadExit(nullptr, &handler<'b', csysOk>, nullptr) == csysOk);
        outer = csys_threadDetach();
    });
    leaving.join();
    REQUIRE(outer == csysOk);
    REQUIRE(nested.status == csysOk && nested.hadRecord == 1);
    REQUIRE(gCalls == "bna");
    REQUIRE(csys_atShutdown0(&handler<'0', csysOk>, nullptr) == csysOk);
    // Counted out once: nobody is left attached.
    REQUIRE(csys_shutdown() == csysOk);
    REQUIRE(gCalls == "bna0");
    childExit(0);
}

TEST_F(CsysShutdown, ADetachFromOneOfTheThreadsOwnExitHandlersReturnsAtOnce)
{
    EXPECT_EXIT(aDetachFromAnExitHandlerReturnsAtOnce(), ::testing::ExitedWithCode(0), "");
}

// A thread service used after the thread's exit work (by a thread_local
// destructor, or by a pthread key destructor that runs after the platform's)
// is refused: a record made then would never be detached and would hold the
// end back for ever.
std::atomic<csysStatus> gLateStatus{csysOk};
std::atomic<bool> gLateDone{false};

void useAThreadServiceLate()
{
    csys_threadHandle late = nullptr;
    gLateStatus = csys_threadGetCurrent(&late);
    if (late != nullptr)
        REQUIRE(csys_threadHandleRelease(&late) == csysOk);
    gLateDone = true;
}

struct LateUser {
    ~LateUser() { useAThreadServiceLate(); }
};

uint32_t attachThenLeaveAThreadLocal(void*)
{
    static thread_local LateUser user;
    (void)&user;
    csys_threadObject* object = nullptr;
    REQUIRE(csys_threadGetCurrentObject(&object) == csysOk);
    return 0;
}

void fromAThreadLocalDestructor()
{
    // A thread of the platform runs its exit work before its thread_local
    // objects are destroyed.
    plat::Handle thread = plat::createThread(&attachThenLeaveAThreadLocal, nullptr, nullptr);
    REQUIRE(thread != nullptr);
    REQUIRE(plat::waitFor(thread, plat::kInfiniteWait).status == plat::WaitStatus::Signalled);
    plat::closeHandle(thread);
}

void fromALaterKeyDestructor()
{
    std::thread leaving([] {
        csys_threadObject* object = nullptr;
        REQUIRE(csys_threadGetCurrentObject(&object) == csysOk);
        // Made after the platform's key, so its destructor runs later.
        pthread_key_t key;
        REQUIRE(pthread_key_create(&key, [](void*) { useAThreadServiceLate(); }) == 0);
        REQUIRE(pthread_setspecific(key, &key) == 0);
    });
    leaving.join();
}

void aThreadPastItsExitWorkGetsNoRecord(void (*leave)())
{
    REQUIRE(csys_atShutdown0(&handler<'0', csysOk>, nullptr) == csysOk);
    leave();
    while (!gLateDone)
        std::this_thread::yield();
    REQUIRE(gLateStatus == csysErrThreadExited);
    REQUIRE(csys_shutdown() == csysOk);
    REQUIRE(gCalls == "0");
    childExit(0);
}

TEST_F(CsysShutdown, AThreadPastItsExitWorkGetsNoNewRecord)
{
    const struct {
        const char* name;
        void (*leave)();
    } routes[] = {
        {"thread_local destructor", &fromAThreadLocalDestructor},
        {"later key destructor", &fromALaterKeyDestructor},
    };
    for (const auto& route : routes) {
        SCOPED_TRACE(route.name);
        EXPECT_EXIT(aThreadPastItsExitWorkGetsNoRecord(route.leave), ::testing::ExitedWithCode(0), "");
    }
}

// The caller's own detach fails while another thread is attached: the
// failure comes back at once and both lists wait for the last thread.
void aFailedDetachOfTheCallerIsReturnedBeforeListOne()
{
    csys_event attached = {}, go = {};
    REQUIRE(csys_eventCreate(&attached, 1, 0) == csysOk);
    REQUIRE(csys_eventCreate(&go, 1, 0) == csysOk);
    std::thread other([&] {
        csys_threadObject* object = nullptr;
        REQUIRE(csys_threadGetCurrentObject(&object) == csysOk);
        REQUIRE(csys_eventSet(&attached) == csysOk);
        REQUIRE(csys_eventWait(&go, csysWaitForever, nullptr) == csysOk);
    });
    REQUIRE(csys_eventWait(&attached, csysWaitForever, nullptr) == csysOk);
    REQUIRE(csys_atThreadExit(nullptr, &handler<'e', csysErrOsCall>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'1', csysOk>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'0', csysOk>, nullptr) == csysOk);

    REQUIRE(csys_shutdown() == csysErrOsCall);
    REQUIRE(gCalls == "e");
    REQUIRE(!csys_shutdownDone());
    REQUIRE(csys_eventSet(&go) == csysOk);
    other.join();
    REQUIRE(gCalls == "e10");
    REQUIRE(csys_shutdownDone());
    childExit(0);
}

TEST_F(CsysShutdown, AFailedDetachOfTheCallerIsReturnedBeforeListOneRuns)
{
    EXPECT_EXIT(aFailedDetachOfTheCallerIsReturnedBeforeListOne(), ::testing::ExitedWithCode(0), "");
}

// ---- Races with the end. Each scenario runs in many fresh processes, forked
// from one that has not touched the system layer, and the shut-down request
// comes after a delay that differs from run to run.

void spin(int count)
{
    for (volatile int i = 0; i < count; ++i) {
    }
}

void inForkedRuns(int runs, void (*scenario)(int delay))
{
    for (int run = 0; run < runs; ++run) {
        pid_t child = fork();
        REQUIRE(child != -1);
        if (child == 0) {
            scenario(run * 7919 % 20000);
            childExit(0);
        }
        int status = 0;
        REQUIRE(waitpid(child, &status, 0) == child);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "run %d ended with status %#x\n", run, status);
            childExit(1);
        }
    }
    childExit(0);
}

// Starts work on another thread and returns once it runs.
template <typename Work>
std::thread started(Work work)
{
    auto running = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([running, work] {
        *running = true;
        work();
    });
    while (!*running)
        std::this_thread::yield();
    return thread;
}

std::atomic<int> gRuns{0};

csysStatus countRun(void*)
{
    ++gRuns;
    return csysOk;
}

void onceRacingTheEnd(int delay)
{
    int32_t made = 0;
    REQUIRE(csys_once(&succeed, nullptr, &made) == csysOk);
    std::atomic<csysStatus> unexpected{csysOk};
    std::thread other = started([&] {
        for (;;) {
            int32_t flag = 0;
            csysStatus status = csys_once(&succeed, nullptr, &flag);
            if (status == csysErrShutDown)
                return;
            if (status != csysOk || flag != 1) {
                unexpected = status != csysOk ? status : csysErrFail;
                return;
            }
        }
    });
    spin(delay);
    REQUIRE(csys_shutdown() == csysOk);
    other.join();
    REQUIRE(unexpected == csysOk);
}

TEST_F(CsysShutdown, AOnceInitialisationRacingTheEndRunsOrIsRefused)
{
    EXPECT_EXIT(inForkedRuns(25, &onceRacingTheEnd), ::testing::ExitedWithCode(0), "");
}

// Every registration that succeeds is called; the lists run while the other
// thread is still registering.
void registrationRacingTheEnd(int delay)
{
    int which = delay % 2;
    std::atomic<int> taken{0};
    std::atomic<csysStatus> refusal{csysOk};
    std::thread other = started([&] {
        for (int i = 0; i < 1000; ++i) {
            csysStatus status = which == 0 ? csys_atShutdown0(&countRun, nullptr) : csys_atShutdown1(&countRun, nullptr);
            if (status != csysOk) {
                refusal = status;
                return;
            }
            ++taken;
        }
    });
    spin(delay);
    REQUIRE(csys_shutdown() == csysOk);
    other.join();
    REQUIRE(refusal == csysOk || refusal == csysErrShutDown);
    REQUIRE(gRuns == taken);
}

TEST_F(CsysShutdown, ARegistrationRacingTheEndIsCalledOrRefused)
{
    EXPECT_EXIT(inForkedRuns(25, &registrationRacingTheEnd), ::testing::ExitedWithCode(0), "");
}

// Threads keep attaching and registering an exit handler while the end
// comes: each one attached runs its handler, and the end is reached.
void attachingRacingTheEnd(int delay)
{
    std::atomic<int> registered{0};
    std::atomic<bool> refused{false};
    std::atomic<bool> failed{false};
    auto spawn = [&] {
        while (!refused && !failed) {
            std::thread([&] {
                csys_threadObject* self = nullptr;
                csysStatus status = csys_threadGetCurrentObject(&self);
                if (status == csysErrShutDown) {
                    refused = true;
                    return;
                }
                if (status != csysOk || csys_atThreadExit(nullptr, &countRun, nullptr) != csysOk) {
                    failed = true;
                    return;
                }
                ++registered;
            }).join();
        }
    };
    std::thread spawners[3] = {started(spawn), started(spawn), started(spawn)};
    while (registered < 3)
        std::this_thread::yield();
    spin(delay);
    csysStatus status = csys_shutdown();
    REQUIRE(status == csysOk || status == csysShutdownPending);
    for (std::thread& spawner : spawners)
        spawner.join();
    REQUIRE(!failed);
    REQUIRE(csys_shutdownDone());
    REQUIRE(gRuns == registered);
}

TEST_F(CsysShutdown, AThreadAttachingAsTheEndComesIsCountedOrRefused)
{
    EXPECT_EXIT(inForkedRuns(20, &attachingRacingTheEnd), ::testing::ExitedWithCode(0), "");
}

// The last attached thread leaves just as the request comes: one of the two
// must see the other and run the end.
void lastDetachRacingTheRequest(int delay)
{
    std::atomic<bool> attached{false}, go{false};
    std::thread other = started([&] {
        csys_threadObject* self = nullptr;
        REQUIRE(csys_threadGetCurrentObject(&self) == csysOk);
        attached = true;
        while (!go) {
        }
        spin(delay % 64);
    });
    // Attached first: a request that came earlier would rightly refuse it.
    while (!attached)
        std::this_thread::yield();
    go = true;
    spin(32);
    csysStatus status = csys_shutdown();
    REQUIRE(status == csysOk || status == csysShutdownPending);
    other.join();
    REQUIRE(csys_shutdownDone());
}

TEST_F(CsysShutdown, TheLastThreadLeavingAsTheRequestComesStillReachesTheEnd)
{
    EXPECT_EXIT(inForkedRuns(25, &lastDetachRacingTheRequest), ::testing::ExitedWithCode(0), "");
}

} // namespace
