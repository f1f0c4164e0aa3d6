#include "std/dispatcher.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/event_log_testing.h"

namespace {

struct Call : ccCallback1<const void*> {
    explicit Call(std::function<void()> f) : action(std::move(f)) {}
    void operator()(const void*) override { action(); }
    std::function<void()> action;
};

ccCallbackDispatcher::Registration reg(std::function<void()> f) { return {new Call(std::move(f)), nullptr}; }

// Answers per pass: 1 enabled, 0 disabled, -1 throws. Being asked shows that every earlier pass has ended, so what
// the callbacks wrote on the dispatcher thread can be read after waitFor.
struct ScriptedLine : ccCallbackDispatcherOwner {
    explicit ScriptedLine(std::vector<int> script) : answers(std::move(script)) {}
    bool isLineEnabled() override
    {
        const int answer = answers.at(asked++);
        asks.unlock();
        return answer < 0 ? throw std::runtime_error("no line") : answer == 1;
    }
    void waitFor(size_t count) { while (count-- > 0) asks.lock(HUGE_VAL); }
    std::vector<int> answers;
    size_t asked = 0;
    ccSemaphore asks{0, 1000};
};

TEST(CallbackDispatcher, EachWakeGivesOnePassInOrderWhileEnabledAndCallbacksMayAddAndRemove)
{
    std::vector<int> log;
    ScriptedLine line({1, 0, 1, 1, 0});
    auto dispatcher = std::make_unique<ccCallbackDispatcher>(3, &line);
    ccCallbackDispatcher::Registration first{nullptr, &line}, second = reg([&] { log.push_back(2); }), added;
    added = reg([&] { log.push_back(3), dispatcher->remove(added); });
    first.callback = new Call([&] {
        log.push_back(1);
        if (line.asked == 1) {
            dispatcher->remove({first.callback, nullptr}); // same callback, other argument
            dispatcher->remove(added);                     // not added yet
            dispatcher->remove(second);
            dispatcher->add(added);
        }
    });
    dispatcher->add(first);
    dispatcher->add(second);
    for (int i = 0; i < 5; ++i)
        dispatcher->wakeSemaphore().unlock();
    line.waitFor(5);
    EXPECT_EQ(log, (std::vector<int>{1, 1, 3, 1}));
    dispatcher.reset();
    EXPECT_EQ(line.asked, 5u);
}

TEST(CallbackDispatcher, AFailingCallbackOrLineIsLoggedAndTheOthersAndLaterPassesGoOn)
{
    std::vector<int> log;
    ScriptedLine line({1, -1, 1, 1});
    ccCallbackDispatcher dispatcher(3, &line);
    dispatcher.add(reg([] { throw ccUnsupportedHW(); }));
    dispatcher.add(reg([] { throw 7; }));
    dispatcher.add({nullptr, nullptr});
    dispatcher.add(reg([&] {
        if (log.push_back(1), log.size() == 3)
            throw cc_Resource::BrokenLock(); // the stop request of the library's threads still ends it
        throw std::runtime_error("bad");
    }));
    plat::collectEventLines(true);
    for (int i = 0; i < 4; ++i)
        dispatcher.wakeSemaphore().unlock();
    dispatcher.join();
    plat::collectEventLines(false);
    const std::vector<std::wstring> events = plat::takeEventLines();
    EXPECT_EQ(std::pair(log.size(), events.size()), std::pair(size_t{3}, size_t{12}));
    EXPECT_EQ(events.at(1), L"Qoralt: A line-change callback failed: an exception of unknown type");
    EXPECT_EQ(events.at(3), L"Qoralt: A line-change callback failed: bad");
    EXPECT_EQ(events.at(4), L"Qoralt: Can't read the state of an input line: no line");
}

TEST(CallbackDispatcher, DestructionWaitsForTheThreadUnlessACallbackDestroysItThenNothingMoreIsCalled)
{
    std::vector<int> log;
    ScriptedLine line({1});
    for (const bool fromCallback : {false, true}) {
        auto dispatcher = std::make_unique<ccCallbackDispatcher>(3, &line);
        const ccThreadID thread = *dispatcher;
        dispatcher->add(reg([&] { log.push_back(1), dispatcher.reset(); }));
        dispatcher->add(reg([&] { log.push_back(2); }));
        if (fromCallback)
            dispatcher->wakeSemaphore().unlock(), thread.join();
        else
            dispatcher.reset();
        EXPECT_FALSE(ccThreadRegistry::remove(thread)); // it has left
    }
    EXPECT_EQ(std::pair(line.asked, log), std::pair(size_t{1}, std::vector<int>{1}));
}

} // namespace
