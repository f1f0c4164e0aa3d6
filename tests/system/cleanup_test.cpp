#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "system/csys_cleanup.h"

namespace {

// A clean-up target: records its id when called and returns its result.
struct Probe {
    int id;
    csysStatus result = csysOk;
};

std::vector<int> gLog;
std::vector<void*> gArgs;

csysStatus runProbe(void* p)
{
    gArgs.push_back(p);
    gLog.push_back(static_cast<Probe*>(p)->id);
    return static_cast<Probe*>(p)->result;
}
csysStatus runNoArgument() { return gLog.push_back(800), csysOk; }

class CleanupTest : public ::testing::Test {
protected:
    void SetUp() override { gLog.clear(); gArgs.clear(); }
    csys_cleanupEntry entries[8] = {};
    int32_t count = 0;
    csysStatus status = csysOk;
    void push(int32_t key, uint32_t flags, Probe* p) { entries[count++] = {key, flags, p, &runProbe}; }
};

TEST_F(CleanupTest, FlagsChooseWhenAnEntryRunsAndAreClearedAfterwards)
{
    const struct { uint32_t flags; bool onSuccess, onFailure; } cases[] = {
        {33, false, true}, {34, false, true}, {49, true, true}, {50, true, true}, {17, true, false},
        {0x30 | 0, false, false}, {0x30 | 3, false, false}, {0x30 | 9, false, false}, {0, false, false},
    };
    for (const auto& c : cases)
        for (csysStatus exit : {csysOk, csysMakeStatus(65), csysErrOsCall}) {
            gLog.clear();
            count = 0;
            Probe p{1};
            push(0, c.flags, &p);
            status = exit;
            EXPECT_EQ(csys_cleanupRun(entries, &count, &status), csysOk);
            const bool expected = exit < 0 ? c.onFailure : c.onSuccess;
            // Nothing failed: a negative status stays, a positive one clears.
            EXPECT_EQ(std::tuple(gLog.size(), entries[0].flags, count, status),
                      std::tuple(expected ? 1u : 0u, 0u, -1, exit < 0 ? exit : csysOk))
                << "flags " << c.flags << " status " << exit;
        }
    EXPECT_EQ(csys_cleanupRun(entries, nullptr, &status), csysErrNullArg);
}

TEST_F(CleanupTest, EachKindPassesItsOwnArgument)
{
    Probe one{1}, two{2};
    push(0, 49, &one);
    push(1, 50, &two);
    // Kind 4 gets the address of its entry's object word, which holds the probe.
    entries[count++] = {2, csysCleanupOnSuccess | csysCleanupCallAddress, &one, [](void* word) {
                            gArgs.push_back(word);
                            return runProbe(*static_cast<void**>(word));
                        }};
    entries[count++] = {3, csysCleanupOnSuccess | csysCleanupCallNone, nullptr,
                        reinterpret_cast<csys_cleanupFunction>(reinterpret_cast<void (*)()>(&runNoArgument))};
    entries[count++] = {4, 49, &two, nullptr}; // no function: nothing to call
    EXPECT_EQ(csys_cleanupRun(entries, &count, &status), csysOk);
    EXPECT_EQ(gLog, (std::vector<int>{800, 1, 2, 1}));
    EXPECT_EQ(gArgs, (std::vector<void*>{&entries[2].object, &one, &two, &one}));
}

// Entries run last pushed first and stop at the first failure; a negative
// exit status stays, a positive one becomes the last called result.
TEST_F(CleanupTest, RunOrderAndTheFinalStatus)
{
    const struct Case {
        std::vector<std::pair<uint32_t, csysStatus>> stack; // flags and result, bottom first
        csysStatus exit, returned, status;
        std::vector<int> log;
    } cases[] = {
        {{{49, csysOk}, {49, csysErrOsCall}, {49, csysOk}}, csysOk, csysErrOsCall, csysErrOsCall, {3, 2}},
        {{{33, csysOk}, {33, csysErrOsCall}}, csysErrNoMemory, csysErrOsCall, csysErrNoMemory, {2}},
        // Walked top down, so the bottom entry's notice is the last result.
        {{{49, csysMakeStatus(7)}, {50, csysOk}, {33, csysErrOsCall}}, csysMakeStatus(65), csysMakeStatus(7),
         csysMakeStatus(7), {2, 1}},
    };
    for (const Case& c : cases) {
        gLog.clear();
        count = 0;
        std::vector<Probe> probes;
        for (const auto& e : c.stack)
            probes.push_back({static_cast<int>(probes.size()) + 1, e.second});
        for (size_t i = 0; i < probes.size(); ++i)
            push(static_cast<int32_t>(i), c.stack[i].first, &probes[i]);
        status = c.exit;
        EXPECT_EQ(csys_cleanupRun(entries, &count, &status), c.returned);
        EXPECT_EQ(std::tuple(status, count, gLog), std::tuple(c.status, -1, c.log));
        // The stack has run: a second run reaches nothing.
        status = csysOk;
        EXPECT_EQ((std::tuple{csys_cleanupRun(entries, &count, &status), gLog}), std::tuple(csysOk, c.log));
    }
}

TEST_F(CleanupTest, RemoveTakesOutTheTopmostMatchingEntryAndShiftsLaterOnes)
{
    Probe a{1}, b{2}, d{4, csysMakeStatus(5)}, e{5}, f{6, csysErrOsCall};
    push(0, 49, &a);
    push(1, 49, &b);
    push(1, 49, &d); // same key as b: only this one goes
    push(3, 49, &e);
    push(4, 33, &f);
    // A failure-only entry removed during success is not run; an absent key does nothing.
    EXPECT_EQ(csys_cleanupRemove(entries, &count, &status, 4, 1), csysOk);
    EXPECT_EQ(csys_cleanupRemove(entries, &count, &status, 9, 1), csysOk);
    EXPECT_EQ(std::tuple(count, gLog.empty()), std::tuple(4, true));
    EXPECT_EQ(csys_cleanupRemove(entries, &count, &status, 1, 1), csysMakeStatus(5));
    EXPECT_EQ(std::tuple(gLog, status, count, entries[2].object, entries[3].key, entries[3].flags),
              std::tuple(std::vector<int>{4}, csysMakeStatus(5), 3, &e, -1, 0u));
    // Without the run flag the entry is dropped unrun; on failure the status stays.
    EXPECT_EQ(csys_cleanupRemove(entries, &count, &status, 1, 0), csysOk);
    status = csysErrFail;
    EXPECT_EQ(csys_cleanupRemove(entries, &count, &status, 3, 1), csysOk);
    EXPECT_EQ(std::tuple(status, count), std::tuple(csysErrFail, 1));
    status = csysOk;
    EXPECT_EQ(csys_cleanupRun(entries, &count, &status), csysOk);
    EXPECT_EQ(gLog, (std::vector<int>{4, 5, 1}));
}

TEST(CleanupStackTest, PushIsCheckedAndFinishReturnsTheFinalStatus)
{
    gLog.clear();
    Probe a{1}, b{2, csysErrOsCall};
    csys_cleanupStack<3> stack;
    EXPECT_EQ(stack.push(0, 49, &a, &runProbe), csysOk);
    EXPECT_EQ(stack.push0(1, 49, &runNoArgument), csysOk);
    EXPECT_EQ(stack.push(2, 49, &b, &runProbe), csysOk);
    EXPECT_EQ(stack.push(3, 49, &a, &runProbe), csysErrFail) << "full";
    EXPECT_EQ(stack.remove(2, false), csysOk);
    EXPECT_EQ(stack.finish(csysOk), csysOk);
    EXPECT_EQ(gLog, (std::vector<int>{800, 1}));
    EXPECT_EQ(stack.push(0, 49, &a, &runProbe), csysErrFail) << "already run";
    EXPECT_EQ(stack.finish(csysErrNoMemory), csysErrNoMemory);
}

} // namespace
