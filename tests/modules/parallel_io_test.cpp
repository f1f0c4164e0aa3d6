#include "modules/parallel_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <typeinfo>
#include <utility>
#include <vector>

#include "modules/board.h"
#include "modules/fgproxy.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "platform/event_log_testing.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

TEST(LineHandle, WithoutALineThrowsNotEnabledOrCannotEnable)
{
    const ccOutputLine out;
    EXPECT_THROW(out.value(), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.setValue(true), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.lineNumber(), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.enable(false), ccParallelIO::CannotEnable);
    EXPECT_THROW(out.isEnabled(), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.canBeEnabled(), ccParallelIO::CannotEnable);
    EXPECT_THROW(out.pulse(true, 1, false), ccParallelIO::NotEnabled);
}

// Counts its calls, after its action; tests wait for a count, never sleep.
struct Counter : ccCallback1<const void*> {
    explicit Counter(std::function<void()> what = {}) : action(std::move(what)) {}
    void operator()(const void*) override
    {
        if (action)
            action();
        std::lock_guard<std::mutex> hold(mutex);
        ++calls;
        changed.notify_all();
    }
    uint32_t waitFor(uint32_t n) // ten seconds at most; 0: the count now
    {
        std::unique_lock<std::mutex> hold(mutex);
        changed.wait_for(hold, std::chrono::seconds(10), [&] { return calls >= n; });
        return calls;
    }
    std::function<void()> action;
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t calls = 0;
};

using Handle = ccInputLine::CallbackHandle;

Handle watch(ccInputLine& line, uint32_t kind, const ccPtrHandle<Counter>& callback = new Counter)
{
    return line.registerCallback(callback.rawPointer(), nullptr, 6, kind);
}

// A board whose output line 2 answers no 69; the other lines are the simulator's.
struct Without69 : ccIComponent_ParallelIO {
    int32_t query(ccIUnknown** out, int32_t id) override
    {
        *out = id == ccIidParallelIO ? this : nullptr;
        return 0;
    }
    uint32_t addRef() override { return 1; }
    uint32_t release() override { return 1; }
    int32_t counts(uint32_t* inputs, uint32_t* outputs) override { return io->counts(inputs, outputs); }
    int32_t line(ccIUnknown** line, uint32_t direction, uint32_t number) override
    {
        return direction == 0 && number == 2 ? query(line, ccIidParallelIO) : io->line(line, direction, number);
    }
    cc_ModPtr<ccIComponent_ParallelIO> io;
};

// Outside the code table: every question is Unspecified.
struct Outside : cc_IOTableConfig<Outside, 0> {};

// The parallel I/O under test, building its line table from board at the
// first use, as a board does (again when code changes); every module line it
// took goes back on close.
class ParallelIO : public testing::Test, public ccUnknownPIO {
protected:
    static void SetUpTestSuite() { ccModulesStartup(); }
    ~ParallelIO() override
    {
        closeParallelIO();
        EXPECT_EQ(sim_module::audit().live, live);
    }
    void ensureReady() override
    {
        if (std::exchange(built, code) != code)
            attachLineTable(buildLineTable(board, *grabber), code);
    }
    ccFrameGrabber& ioFrameGrabber() override { throw std::logic_error("not asked here"); }

    sim_module::Board simBoard;
    std::unique_ptr<cc_UnknownFrameGrabber> grabber{
        cc_UnknownFrameGrabber::create(simBoard.module, simBoard.board.get())};
    const uint32_t live = sim_module::audit().live;
    ccIUnknown* board = simBoard.board.get();
    int32_t code = 4;
    int32_t built = -1;
};

TEST_F(ParallelIO, AbsentLinesTablesAndConfigurationsAreBadParams)
{
    Without69 fake;
    fake.io = ccModQuery<ccIComponent_ParallelIO>(board, ccIidParallelIO);
    board = &fake;
    sim_module::failNext(ccIidParallelIO, 4, ccBoard::Timeout(L"Lost", 5));
    EXPECT_THROW(outputLine(0), ccBoard::Timeout);
    code = 0;
    EXPECT_THROW(inputLine(0), ccParallelIO::BadParams);
    EXPECT_THROW(numOutputLines(), ccParallelIO::BadParams);
    code = 4;
    EXPECT_EQ(std::make_tuple(numInputLines(), numOutputLines()), std::make_tuple(16u, 20u));
    EXPECT_THROW(outputLine(2), ccParallelIO::BadParams);
    EXPECT_EQ(outputLine(3).lineNumber(), 3u);
}

TEST_F(ParallelIO, OnlyTableClassesAreToldToTheModule)
{
    sim().setLineCounts(0, 300);
    const ccOutputLine zero = outputLine(0);
    setIOConfig(Outside());
    EXPECT_EQ(sim().ioCode(), 4);
    EXPECT_THROW(outputLine(264), ccParallelIO::BadParams); // before the 8-bit check would see 8
    EXPECT_THROW(outputLine(255), ccParallelIO::Unspecified);
    EXPECT_EQ(sim().callCount(ccIidParallelIO, 4), 256u); // no line above 255 asked of the module
    setIOConfig(ccIOLightControlOption());
    EXPECT_EQ(sim().ioCode(), 6);
    EXPECT_THROW(zero.setValue(true), ccUnknownFG::MissingFunctionality); // the module drives 12 to 19 now
    // A configuration the module refuses changes nothing: line 12 is an
    // output of the one in force, not of the refused one.
    sim_module::failNext(ccIidIOSetting, 3, ccBoard::Timeout(L"Lost", 5));
    EXPECT_THROW(setIOConfig(ccIO7312()), ccBoard::Timeout);
    EXPECT_EQ(typeid(ioConfig()), typeid(ccIOLightControlOption));
    EXPECT_EQ(std::make_tuple(numInputLines(), numOutputLines()), std::make_tuple(8u, 8u));
    EXPECT_EQ(outputLine(12).lineNumber(), 12u);
}

TEST_F(ParallelIO, OneEdgeKindAtATimeAndARefusedKindLeavesTheLineFree)
{
    ccInputLine line = inputLine(0);
    EXPECT_TRUE(ccInputLine().registerCallback(new Counter, nullptr, 6, 0).empty());
    EXPECT_THROW(line.registerCallback(nullptr, nullptr, 6, 0), ccParallelIO::BadParams);
    EXPECT_TRUE(watch(line, 3).empty()); // "none" watches nothing
    sim().setAnswer(ccIidLineIO, 10, 0, 0); // no edge supported
    EXPECT_TRUE(watch(line, 1).empty());
    EXPECT_FALSE(line.isEnabled());
    sim().setAnswer(ccIidLineIO, 10, 0, 1);
    Handle first = watch(line, 0), copy = first;
    EXPECT_TRUE(watch(line, 1).empty());
    first = Handle(); // the copy keeps the registration
    EXPECT_EQ(std::make_tuple(sim().callCount(ccIidLineIO, 11), sim().wakeObjects(0)), std::make_tuple(0u, 1u));
    copy = Handle();
    double code = 0;
    EXPECT_EQ(std::make_tuple(sim().lastArgs(ccIidLineIO, 11, &code, 1), code, sim().wakeObjects(0)),
              std::make_tuple(1u, 1.0, 0u));
    EXPECT_FALSE(watch(line, 1).empty());
}

TEST_F(ParallelIO, HandlesThatOutliveTheirLineReleaseNothing)
{
    Handle kept;
    {
        ccInputLine line = inputLine(3), other = inputLine(4);
        kept = watch(line, 1);
        const Handle earlier = watch(other, 1);
        other = line; // the registration on line 4 stays with other
        EXPECT_EQ(sim().wakeObjects(4), 1u);
    }
    const auto watched = [] {
        return std::make_tuple(sim().wakeObjects(3), sim().wakeObjects(4), sim().callCount(ccIidLineIO, 11));
    };
    EXPECT_EQ(watched(), std::make_tuple(0u, 0u, 2u));
    Handle copy = kept;
    kept = copy = Handle();
    EXPECT_EQ(watched(), std::make_tuple(0u, 0u, 2u));
}

// A callback may let go of its own last handle while another thread waits
// for its pass; a failing line or callback costs its pass only.
TEST_F(ParallelIO, CallbacksMayReleaseTheirOwnHandlesAndFailuresStayOnTheirThread)
{
    ccInputLine line = inputLine(0);
    std::vector<Handle> handles;
    for (int i = 0; i < 4; ++i)
        handles.push_back(watch(line, 1, new Counter([] { throw std::runtime_error("bad"); })));
    Handle own;
    std::promise<void> entered;
    std::mutex gate;
    std::unique_lock<std::mutex> closed(gate);
    const ccPtrHandle<Counter> releasing(new Counter([&] {
        entered.set_value();
        std::lock_guard<std::mutex> wait(gate);
        own = Handle();
    }));
    own = watch(line, 1, releasing);
    plat::collectEventLines(true); // the failures are logged
    sim_module::failNext(ccIidLineIO, 5, ccBoard::Timeout(L"Lost", 5)); // isEnabled before the first pass
    sim().raiseEdges(0, 2, 2);
    entered.get_future().wait();
    std::thread other([&] { handles.clear(); }); // holds the line's lock, waiting for the pass
    closed.unlock();
    EXPECT_EQ(releasing->waitFor(1), 1u);
    other.join();
    sim().waitEdges();
    plat::collectEventLines(false);
    (void)plat::takeEventLines();
    EXPECT_EQ(sim().wakeObjects(0), 0u);
}

TEST_F(ParallelIO, LinesFrom8WhenTheCoreAnswers105ReachTheModule)
{
    sim().setOffered(ccIidLinesFrom8, 1);
    EXPECT_EQ(inputLine(8).lineNumber(), 8u);
    EXPECT_THROW(inputLine(7), ccParallelIO::BadParams);
    const ccOutputLine out = outputLine(15);
    out.setValue(true);
    EXPECT_TRUE(out.value());
}

TEST_F(ParallelIO, ToggleInvertsAnEnabledLineAndEdgeKindsTravelAsCodes)
{
    const std::unique_ptr<cc_UnknownLineTable> table(buildLineTable(board, *grabber));
    cc_IOLine& line = table->inputLine(0);
    line.enable(true);
    line.toggle();
    EXPECT_TRUE(line.value());
    std::vector<double> codes;
    for (uint32_t kind : {0u, 1u, 2u, 3u, 7u}) {
        line.stopEdgeKind(kind);
        sim().lastArgs(ccIidLineIO, 11, &codes.emplace_back(), 1);
    }
    EXPECT_EQ(codes, (std::vector<double>{1, 2, 3, 4, 4}));
}

// One thread changes a board's configuration while another asks for its
// lines and counts: every answer is one of a configuration in force.
TEST(BoardLines, ConfigurationChangesAndLineLookUpsMeetFromAnyThread)
{
    ccModulesStartup();
    sim_module::Board simBoard;
    cc7320 board(std::make_unique<cc_BoardEntry>(simBoard.module, 0, L"sim0"), std::move(simBoard.board));
    constexpr int kRounds = 1000;
    std::thread changer([&] {
        for (int i = 0; i < kRounds; ++i) {
            board.setIOConfig(ccIOExternalOption()); // 8 inputs
            board.setIOConfig(ccIOStandardOption()); // 16 inputs
        }
    });
    int odd = 0;
    for (int i = 0; i < kRounds; ++i) {
        const uint32_t inputs = board.numInputLines();
        odd += (inputs != 8 && inputs != 16) + (board.ioConfig().numOutputLines() != 20);
        odd += board.outputLine(19).lineNumber() != 19; // an output of both
        try {
            odd += board.inputLine(12).lineNumber() != 12; // an input of the standard option only
        } catch (const ccParallelIO::BadParams&) {
        }
    }
    changer.join();
    EXPECT_EQ(odd, 0);
}

// 1,000 transitions on each of two input lines while callbacks come and go:
// those of line 0 share its dispatcher with one registered throughout; those
// of a second object of line 1 make and stop their own each time.
TEST(BoardLines, TransitionsReachEveryCallbackRegisteredAndNoneRemoved)
{
    ccModulesStartup();
    sim_module::Board simBoard;
    cc7320 board(std::make_unique<cc_BoardEntry>(simBoard.module, 0, L"sim0"), std::move(simBoard.board));
    constexpr uint32_t kEdges = 1000;
    std::vector<ccInputLine> lines = {board.inputLine(0), board.inputLine(1), board.inputLine(1)};
    const std::vector<ccPtrHandle<Counter>> counters = {new Counter, new Counter};
    std::vector<Handle> throughout = {watch(lines[0], 1, counters[0]), watch(lines[1], 1, counters[1])};
    std::atomic<uint32_t> late{0}; // calls after the removal returned
    std::vector<std::thread> churn;
    for (size_t k : {0, 0, 2}) { // two threads on one object; until the last transition is delivered
        churn.emplace_back([&, k] {
            ccInputLine& line = lines[k];
            for (int i = 0; i < 20 || counters[line.lineNumber()]->waitFor(0) < kEdges; ++i) {
                const auto removed = std::make_shared<std::atomic<bool>>(false);
                EXPECT_FALSE(watch(line, 1, new Counter([&late, removed] { late += removed->load(); })).empty());
                *removed = true; // the handle went at once
            }
        });
    }
    sim().raiseEdges(0, 2, kEdges);
    sim().raiseEdges(1, 2, kEdges);
    for (std::thread& t : churn)
        t.join();
    sim().waitEdges();
    EXPECT_EQ(std::make_tuple(counters[0]->waitFor(kEdges), counters[1]->waitFor(kEdges)),
              std::make_tuple(kEdges, kEdges));
    throughout.clear();
    lines.clear();
    EXPECT_EQ(late.load(), 0u);
    EXPECT_EQ(std::make_tuple(sim().wakeObjects(0), sim().wakeObjects(1)), std::make_tuple(0u, 0u));
}

// A line of a table as its input-line objects see it, refusing edge kind 2.
// A test acts from within its calls (meanwhile), and it counts the times the
// module was told to disable the line or stop watching while a wake object
// was on it: the callbacks of that object's registration would be lost.
class SharedLine : public cc_IOLine {
public:
    explicit SharedLine(cc_IOLine& line) : real_(line) {}
    ~SharedLine() override { join(); }

    bool value() override { return real_.value(); }
    void setValue(bool value) override { real_.setValue(value); }
    uint32_t lineNumber() override { return real_.lineNumber(); }
    void enable(bool flag) override
    {
        lost += !flag && sim().wakeObjects(0) != 0;
        real_.enable(flag);
    }
    bool isEnabled() override { return real_.isEnabled(); }
    bool canBeEnabled() override { return real_.canBeEnabled(); }
    void pulse(bool level, double seconds, bool flag) override { real_.pulse(level, seconds, flag); }
    bool supportsEdgeKind(uint32_t kind) override
    {
        run(onSupports);
        std::this_thread::yield(); // a wider window for another object's change
        return kind != 2 && real_.supportsEdgeKind(kind);
    }
    void stopEdgeKind(uint32_t kind) override
    {
        lost += sim().wakeObjects(0) != 0;
        real_.stopEdgeKind(kind);
    }
    void addWakeObject(ccIWakeObject* wake, uint32_t kind) override
    {
        real_.addWakeObject(wake, kind);
        run(onAdded);
        std::this_thread::yield();
    }
    void removeWakeObject(ccIWakeObject* wake, uint32_t kind) override { real_.removeWakeObject(wake, kind); }
    std::unique_lock<std::mutex> lockLine() override
    {
        if (tlOther) {
            std::lock_guard<std::mutex> hold(mutex_);
            asked_ = true;
            changed_.notify_all();
        }
        return cc_IOLine::lockLine();
    }

    // Runs other on a thread of its own until it ends or waits for the
    // line's lock (ten seconds at most).
    void meanwhile(std::function<void()> other)
    {
        std::unique_lock<std::mutex> hold(mutex_);
        asked_ = done_ = false;
        thread_ = std::thread([this, other] {
            tlOther = true;
            other();
            std::lock_guard<std::mutex> ended(mutex_);
            done_ = true;
            changed_.notify_all();
        });
        changed_.wait_for(hold, std::chrono::seconds(10), [&] { return done_ || asked_; });
    }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    std::function<void()> onSupports, onAdded; // each runs once
    std::atomic<uint32_t> lost{0};

private:
    static void run(std::function<void()>& hook)
    {
        if (std::function<void()> once = std::exchange(hook, nullptr))
            once();
    }
    static thread_local bool tlOther;

    cc_IOLine& real_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool asked_ = false, done_ = false;
    std::thread thread_;
};

thread_local bool SharedLine::tlOther = false;

// Input line 0 of a table of its own, reached by two objects through a
// SharedLine.
class SharedInput : public ParallelIO {
protected:
    std::unique_ptr<cc_UnknownLineTable> table{buildLineTable(board, *grabber)};
    SharedLine line{table->inputLine(0)};
    ccInputLine objects[2] = {ccInputLine(&line, table->link()), ccInputLine(&line, table->link())};
};

// A registration refused while another object's is made leaves the line
// enabled for the other's callbacks.
TEST_F(SharedInput, ARefusedRegistrationLeavesAnotherObjectsInForce)
{
    const ccPtrHandle<Counter> counter(new Counter);
    Handle made;
    line.onSupports = [&] { line.meanwhile([&] { made = watch(objects[1], 0, counter); }); };
    EXPECT_TRUE(watch(objects[0], 2).empty());
    line.join();
    ASSERT_FALSE(made.empty());
    sim().raiseEdges(0, 1, 1);
    EXPECT_EQ(std::make_tuple(line.isEnabled(), counter->waitFor(1), line.lost.load()), std::make_tuple(true, 1u, 0u));
    sim().waitEdges();
}

// The last release of one object while another starts watching the same
// kind leaves the kind watched.
TEST_F(SharedInput, ALastReleaseWhileAnotherObjectStartsLeavesTheKindWatched)
{
    Handle last = watch(objects[1], 1);
    line.onAdded = [&] { line.meanwhile([&] { last = Handle(); }); };
    const ccPtrHandle<Counter> counter(new Counter);
    const Handle made = watch(objects[0], 1, counter);
    line.join();
    sim().raiseEdges(0, 2, 1);
    EXPECT_EQ(std::make_tuple(counter->waitFor(1), sim().wakeObjects(0), sim().callCount(ccIidLineIO, 11)),
              std::make_tuple(1u, 1u, 0u));
    sim().waitEdges();
}

// Both objects register (one kind refused) and release from two threads
// each while a module thread raises transitions, and the board closes
// half-way: no object's change meets another's half done, and nothing
// stays added.
TEST_F(SharedInput, TwoObjectsOfOneLineChurningWhileTheBoardClosesLoseNothing)
{
    constexpr int kRounds = 200;
    sim().raiseEdges(0, 2, 500);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                if (t == 0 && i == kRounds / 2)
                    table.reset(); // the board closes
                try {
                    EXPECT_TRUE(watch(objects[t % 2], 2).empty());
                    const Handle made = watch(objects[t % 2], 1);
                } catch (const ccUnknownFG::MissingFunctionality&) {
                }
            }
        });
    for (std::thread& t : threads)
        t.join();
    sim().waitEdges();
    EXPECT_EQ(std::make_tuple(line.lost.load(), sim().wakeObjects(0)), std::make_tuple(0u, 0u));
}

// A registration the module fails (asking for the edge kind, adding the wake
// object) raises the module's error and leaves the line as it was: not
// enabled, nothing added, free for the next registration of any kind.
TEST_F(ParallelIO, AFailedRegistrationLeavesTheLineAsItWas)
{
    ccInputLine line = inputLine(0);
    for (int32_t slot : {10, 12}) {
        SCOPED_TRACE(slot);
        ASSERT_FALSE(line.isEnabled());
        sim_module::failNext(ccIidLineIO, slot, ccBoard::Timeout(L"Lost", 5));
        EXPECT_THROW(watch(line, 1), ccBoard::Timeout);
        EXPECT_EQ(std::make_tuple(line.isEnabled(), sim().wakeObjects(0)), std::make_tuple(false, 0u));
    }
    EXPECT_FALSE(watch(line, 0).empty());
}

} // namespace
