#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "std/deferredinit.h"

namespace {

std::string gTrace;

TEST(DeferredInit, TheShutDownListRunsLastAddedFirstAndOnceWhateverItsEntriesDo)
{
    gTrace.clear();
    ccDeferredInit::add([] { gTrace += 'A'; });
    ccDeferredInit::add([] {
        gTrace += 'B';
        throw std::runtime_error("dropped");
    });
    ccDeferredInit::add([] {
        gTrace += 'C';
        // The newest, so the next; its own run must call each entry once.
        ccDeferredInit::add([] {
            gTrace += 'D';
            ccDeferredInit::runShutdownList();
        });
    });
    ccDeferredInit::runShutdownList();
    ccDeferredInit::runShutdownList();
    EXPECT_EQ(gTrace, "CDBA");
}

TEST(DeferredInit, TheStartUpListRunsFirstAddedFirstAndOnce)
{
    gTrace.clear();
    std::vector<ccDeferredFunction>& startup = ccDeferredInit::list(0);
    startup.push_back([] { gTrace += 'A'; });
    startup.push_back([] {
        gTrace += 'B';
        ccDeferredInit::list(0).push_back([] {
            gTrace += 'D';
            ccDeferredInit::runStartupList();
        });
    });
    startup.push_back([] { gTrace += 'C'; });
    ccDeferredInit::runStartupList();
    ccDeferredInit::runStartupList();
    EXPECT_EQ(gTrace, "ABCD");
    EXPECT_TRUE(startup.empty() && ccDeferredInit::list(1).empty());
}

} // namespace
