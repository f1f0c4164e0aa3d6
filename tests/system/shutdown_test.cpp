// The shut-down state is process-wide and one-shot: each scenario runs in a
// fresh child process and exits 0 when every check held.
#include "system/csys_shutdown.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "platform/sync.h"
#include "platform/thread.h"
#include "system/csys_sync.h"
#include "tests/support/child_check.h"
#include "tests/support/child_exit.h"
#include "tests/support/fake_heap.h"

namespace {

// Handlers append their name and note the thread they ran on.
std::string gCalls;
std::atomic<uint32_t> gLastThread{0};

template <char Name, csysStatus Result = csysOk>
csysStatus handler(void*)
{
    gCalls += Name;
    gLastThread = plat::currentThreadId();
    return Result;
}

csysStatus succeed(void*) { return csysOk; }

// Another thread that runs work. The constructor returns once work has run
// and the thread then stays until leave(); with stay false it returns once
// work has started, and the thread ends with it.
class OtherThread {
public:
    explicit OtherThread(std::function<void()> work, bool stay = true)
        : thread_([this, work, stay] {
              id = plat::currentThreadId();
              ready_ = !stay;
              work();
              ready_ = true;
              while (stay && !go_)
                  std::this_thread::yield();
          })
    {
        while (!ready_)
            std::this_thread::yield();
    }
    void leave()
    {
        go_ = true;
        thread_.join();
    }
    uint32_t id = 0;

private:
    std::atomic<bool> ready_{false}, go_{false};
    std::thread thread_;
};

void attach()
{
    csys_threadObject* object = nullptr;
    REQUIRE(csys_threadGetCurrentObject(&object) == csysOk);
}

// A failed creation of the layer's locks is tried again by the next caller.
// The end runs the caller's own exit handlers as it detaches, then list 1 and
// list 0, each last registered first; after it nothing registers, no record
// is made and no new flag is initialised.
void theEndRunsTheListsOnce()
{
    int32_t onceFlag = 0, lateFlag = 0, has = 1;
    {
        fake_heap::FakeHeap exhausted(0);
        REQUIRE(csys_atShutdown0(&handler<'A'>, nullptr) == csysErrNoMemory);
        REQUIRE(csys_once(&handler<'o'>, nullptr, &onceFlag) == csysErrNoMemory);
    }
    REQUIRE(gCalls.empty() && onceFlag == 0);
    REQUIRE(csys_atShutdown0(&handler<'A'>, nullptr) == csysOk);
    REQUIRE(csys_once(&handler<'o'>, nullptr, &onceFlag) == csysOk && gCalls == "o" && onceFlag == 1);
    attach();
    REQUIRE(csys_atThreadExit(nullptr, &handler<'e'>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'X'>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'B'>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'Y'>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(nullptr, nullptr) == csysErrNullArg);
    REQUIRE(csys_shutdown() == csysOk && gCalls == "oeYXBA" && csys_shutdownDone());
    REQUIRE(csys_shutdown() == csysShutdownAlreadyDone && gCalls == "oeYXBA");
    REQUIRE(csys_atShutdown0(&handler<'Q'>, nullptr) == csysErrShutDown);
    REQUIRE(csys_atShutdown1(&handler<'Q'>, nullptr) == csysErrShutDown);
    REQUIRE(csys_atThreadExit(nullptr, &handler<'Q'>, nullptr) == csysErrShutDown);
    csys_threadHandle self = nullptr;
    REQUIRE(csys_threadGetCurrent(&self) == csysErrShutDown);
    REQUIRE(csys_threadHasRecord(&has) == csysOk && has == 0);
    REQUIRE(csys_once(&succeed, nullptr, &onceFlag) == csysOk);
    REQUIRE(csys_once(&succeed, nullptr, &lateFlag) == csysErrShutDown && lateFlag == 0);
}

// With another thread attached the end waits for it, and runs on it.
void withAnotherThreadAttachedTheEndWaitsForIt()
{
    csys_threadHandle theirs = nullptr;
    OtherThread other([&] { REQUIRE(csys_threadGetCurrent(&theirs) == csysOk); });
    REQUIRE(csys_atShutdown0(&handler<'0'>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'1'>, nullptr) == csysOk);
    csys_threadHandle copy = nullptr;
    REQUIRE(csys_threadHandleInitCopy(&copy, &theirs) == csysOk);

    REQUIRE(csys_shutdown() == csysShutdownPending);
    REQUIRE(gCalls == "1" && !csys_shutdownDone());
    // List 1 has run and takes nothing more; list 0 still does.
    REQUIRE(csys_atShutdown1(&handler<'x'>, nullptr) == csysErrShutDown);
    REQUIRE(csys_atShutdown0(&handler<'a'>, nullptr) == csysOk);
    other.leave();
    REQUIRE(csys_shutdownDone() && gCalls == "1a0" && gLastThread.load() == other.id);
    // The thread's own handle to itself went with its record.
    REQUIRE(csys_threadHandleRelease(&theirs) == csysOk);
    REQUIRE(copy->references == 1 && copy->exited == 1);
    REQUIRE(csys_threadHandleRelease(&copy) == csysOk);
}

// A foreign exit handler that waits for a once-function, while that
// once-function registers on a shut-down list: the two locks must not be
// held the other way round.
struct LockOrder {
    csys_event onceEntered = {}, handlerEntered = {};
    int32_t outerFlag = 0, innerFlag = 0;
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
    csys_threadHandle theirs = nullptr;
    OtherThread leaving([&] { REQUIRE(csys_threadGetCurrent(&theirs) == csysOk); });
    REQUIRE(csys_atThreadExit(&theirs, &waitForTheOnceFunction, nullptr) == csysOk);
    std::thread initialising([&] { REQUIRE(csys_once(&registerOnListZero, nullptr, &order.outerFlag) == csysOk); });
    REQUIRE(csys_eventWait(&order.onceEntered, csysWaitForever, nullptr) == csysOk);
    leaving.leave();
    initialising.join();
    REQUIRE(order.registered == csysOk && order.outerFlag == 1 && order.innerFlag == 1);
    REQUIRE(csys_threadHandleRelease(&theirs) == csysOk);
}

// A detach made by one of the thread's own exit handlers, while the outer
// detach walks the table, returns at once; the record stays until the outer
// one is done.
csysStatus gNestedStatus = csysErrFail;
int32_t gNestedHadRecord = 0;

csysStatus detachFromAHandler(void*)
{
    gCalls += 'n';
    gNestedStatus = csys_threadDetach();
    REQUIRE(csys_threadHasRecord(&gNestedHadRecord) == csysOk);
    return csysOk;
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
    REQUIRE(csys_threadHandleRelease(&late) == csysOk);
    gLateDone = true;
}

void expectTheLateServiceRefused()
{
    // Bounded, so that a late use that never comes fails instead of hanging.
    for (int i = 0; i < 10000 && !gLateDone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    REQUIRE(gLateDone && gLateStatus == csysErrThreadExited);
    gLateDone = false;
}

struct LateUser { ~LateUser() { useAThreadServiceLate(); } };

uint32_t attachThenLeaveAThreadLocal(void*)
{
    static thread_local LateUser user;
    (void)&user;
    attach();
    return 0;
}

// Threads that leave in these ways count out once: nobody is left attached,
// and the end runs at once. Its lists run every entry even after a failure,
// and report the first.
void threadsThatLeaveCountOutOnce()
{
    csysStatus outer = csysErrFail;
    std::thread([&] {
        attach();
        REQUIRE(csys_atThreadExit(nullptr, &handler<'a'>, nullptr) == csysOk);
        REQUIRE(csys_atThreadExit(nullptr, &detachFromAHandler, nullptr) == csysOk);
        REQUIRE(csys_atThreadExit(nullptr, &handler<'b'>, nullptr) == csysOk);
        outer = csys_threadDetach();
    }).join();
    REQUIRE(outer == csysOk && gNestedStatus == csysOk && gNestedHadRecord == 1 && gCalls == "bna");

    // A thread of the platform runs its exit work before its thread_local
    // objects are destroyed.
    plat::Handle thread = plat::createThread(&attachThenLeaveAThreadLocal, nullptr, nullptr);
    REQUIRE(thread != nullptr && plat::waitFor(thread, plat::kInfiniteWait).status == plat::WaitStatus::Signalled);
    plat::closeHandle(thread);
    expectTheLateServiceRefused();
    std::thread([] {
        attach();
        // Made after the platform's key, so its destructor runs later.
        pthread_key_t key;
        REQUIRE(pthread_key_create(&key, [](void*) { useAThreadServiceLate(); }) == 0);
        REQUIRE(pthread_setspecific(key, &key) == 0);
    }).join();
    expectTheLateServiceRefused();

    REQUIRE(csys_atShutdown0(&handler<'0'>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'f', csysErrOsCall>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'y', csysErrNoMemory>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'z'>, nullptr) == csysOk);
    REQUIRE(csys_shutdown() == csysErrNoMemory && gCalls == "bnazyf0" && csys_shutdownDone());
}

// The caller's own detach fails while another thread is attached: the
// failure stops its exit table ('x' never runs) and comes back at once, the
// caller still counts out, and both lists wait for the last thread.
void aFailedDetachOfTheCallerIsReturnedBeforeListOne()
{
    OtherThread other(&attach);
    REQUIRE(csys_atThreadExit(nullptr, &handler<'x'>, nullptr) == csysOk);
    REQUIRE(csys_atThreadExit(nullptr, &handler<'e', csysErrOsCall>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown1(&handler<'1'>, nullptr) == csysOk);
    REQUIRE(csys_atShutdown0(&handler<'0'>, nullptr) == csysOk);

    REQUIRE(csys_shutdown() == csysErrOsCall && gCalls == "e" && !csys_shutdownDone());
    other.leave();
    REQUIRE(gCalls == "e10" && csys_shutdownDone());
}

// ---- Races with the end. Each scenario runs in many fresh processes, forked
// from one that has not touched the system layer, and the shut-down request
// comes after a delay that differs from run to run.

void spin(int count)
{
    for (volatile int i = 0; i < count; ++i)
        continue;
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
}

std::atomic<int> gRuns{0};

csysStatus countRun(void*) { return ++gRuns, csysOk; }

// A call racing the end works or is refused: a once-initialisation
// (Which 0) runs, and every registration on list 0 or 1 that succeeds is
// called; the lists run while the other thread is still calling.
template <int Which>
void callsRacingTheEnd(int delay)
{
    int32_t made = 0;
    REQUIRE(csys_once(&succeed, nullptr, &made) == csysOk);
    std::atomic<int> taken{0};
    std::atomic<csysStatus> unexpected{csysOk};
    OtherThread other([&] {
        for (int i = 0; i < 1000; ++i) {
            int32_t flag = 0;
            const csysStatus status = Which == 0   ? csys_once(&succeed, nullptr, &flag)
                                      : Which == 1 ? csys_atShutdown0(&countRun, nullptr)
                                                   : csys_atShutdown1(&countRun, nullptr);
            if (status == csysErrShutDown)
                return;
            if (status != csysOk || (Which == 0 && flag != 1))
                return void(unexpected = status != csysOk ? status : csysErrFail);
            taken += Which != 0;
        }
    }, false);
    spin(delay);
    REQUIRE(csys_shutdown() == csysOk);
    other.leave();
    REQUIRE(unexpected == csysOk && gRuns == taken);
}

// Threads keep attaching and registering an exit handler while the end
// comes: each one attached runs its handler, and the end is reached.
void attachingRacingTheEnd(int delay)
{
    std::atomic<int> registered{0};
    std::atomic<bool> refused{false}, failed{false};
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
    OtherThread spawners[3] = {OtherThread(spawn, false), OtherThread(spawn, false), OtherThread(spawn, false)};
    while (registered < 3)
        std::this_thread::yield();
    spin(delay);
    csysStatus status = csys_shutdown();
    REQUIRE(status == csysOk || status == csysShutdownPending);
    for (OtherThread& spawner : spawners)
        spawner.leave();
    REQUIRE(!failed && csys_shutdownDone() && gRuns == registered);
}

// The last attached thread leaves just as the request comes: one of the two
// must see the other and run the end.
void lastDetachRacingTheRequest(int delay)
{
    std::atomic<bool> attached{false}, go{false};
    OtherThread other([&] {
        attach();
        attached = true;
        while (!go) {
        }
        spin(delay % 64);
    }, false);
    // Attached first: a request that came earlier would rightly refuse it.
    while (!attached)
        std::this_thread::yield();
    go = true;
    spin(32);
    csysStatus status = csys_shutdown();
    REQUIRE(status == csysOk || status == csysShutdownPending);
    other.leave();
    REQUIRE(csys_shutdownDone());
}

const struct Scenario {
    const char* name;
    void (*run)();
} kScenarios[] = {
    {"TheEndRunsTheListsOnce", &theEndRunsTheListsOnce},
    {"WithAnotherThreadAttachedTheEndWaitsForIt", &withAnotherThreadAttachedTheEndWaitsForIt},
    {"AForeignHandlerMayWaitForAOnceFunctionThatRegisters", &aForeignHandlerMayWaitForAOnceFunctionThatRegisters},
    {"ThreadsThatLeaveCountOutOnce", &threadsThatLeaveCountOutOnce},
    {"AFailedDetachOfTheCallerIsReturnedBeforeListOne", &aFailedDetachOfTheCallerIsReturnedBeforeListOne},
    {"RaceOnceInitialisation", [] { inForkedRuns(25, &callsRacingTheEnd<0>); }},
    {"RaceRegistration",
     [] { inForkedRuns(25, [](int delay) { (delay % 2 ? callsRacingTheEnd<2> : callsRacingTheEnd<1>)(delay); }); }},
    {"RaceAttachingThreads", [] { inForkedRuns(20, &attachingRacingTheEnd); }},
    {"RaceTheLastDetach", [] { inForkedRuns(25, &lastDetachRacingTheRequest); }},
};

class CsysShutdown : public ::testing::TestWithParam<Scenario> {};

TEST_P(CsysShutdown, InAFreshProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((GetParam().run(), childExit(0)), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CsysShutdown, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

} // namespace
