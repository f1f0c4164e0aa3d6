// Camera-configuration files end to end, as a user adds a camera: a file on
// the search path defines a format that the module's boards acquire in.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "acq/acqfifo.h"
#include "acq/camcfg/reader.h"
#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/unknownfg.h"
#include "std/pelbuf/pelbuf.h"
#include "tests/support/scoped_env.h"
#include "tests/support/sim_module.h"
#include "tests/support/temp_dir.h"

namespace {

using sim_module::sim;

std::string camera(const std::string& name, int width, int height, const std::string& more = "")
{
    return "// " + name + "\nformat name = \"" + name + "\"\nformat width = " + std::to_string(width)
           + "\nformat height = " + std::to_string(height) + "\nformat peltype = mono\n" + more
           + "ccf_checksum 0xDEADC0DE\n";
}

std::string alias(const std::string& name, const std::string& to)
{
    return "format name = \"" + name + "\"\nformat format_alias = \"" + to + "\"\nccf_checksum 0xDEADC0DE\n";
}

bool defines(const std::string& name)
{
    try {
        (void)ccVideoFormat::getFormat(TempDir::ascii(name));
        return true;
    } catch (const ccVideoFormat::NotFound&) {
        return false;
    }
}

// Files of the user's directories on the search path, after the driver's
// directory; the next look-up reads them again.
class CcfFormats : public testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        env.unset(L"QORALT_DISALLOW_CCF_READING");
        usePath(first.wide() + L";" + second.wide());
    }
    void TearDown() override { EXPECT_EQ(sim().liveFifos(), 0u); }
    void usePath(const std::wstring& path)
    {
        env.set(L"QORALT_PATH", path);
        ccVideoFormat::installCcfReader(&cc_ccfReader::readIfAllowed);
    }

    ScopedEnv env;
    TempDir first, second;
};

TEST_F(CcfFormats, AFormatFromAFileAcquiresAnImageOfTheFilesSize)
{
    first.write("e2e.ccf", camera("Ccf End To End 320x200", 320, 200));
    first.write("e2e_alias.ccf", alias("Ccf End To End Alias", "Ccf End To End 320x200"));
    for (const char* name : {"Ccf End To End 320x200", "Ccf End To End Alias"}) {
        SCOPED_TRACE(name);
        const ccVideoFormat& format = ccVideoFormat::getFormat(TempDir::ascii(name));
        // The board takes the size from the format's description, as a real
        // one takes it from the camera file.
        const cs_vidFmtRecord* record = format.description(true).record();
        sim().setFrameSize(static_cast<uint32_t>(record->width), static_cast<uint32_t>(record->height));
        std::unique_ptr<ccAcqFifo> fifo(format.newAcqFifo(cc7320::getBoard(0), -1));
        ASSERT_TRUE(fifo);
        EXPECT_EQ(fifo->pelFormat(), 1u); // the file's pel type, mono
        ASSERT_TRUE(fifo->start(7));
        ccAcquireInfo info;
        bool ok = false;
        ccAcqCompleteArgs args;
        args.timeout = 5.0;
        args.info = &info;
        args.outcome = &ok;
        std::unique_ptr<cc_PelBuffer> frame(fifo->completeToBuffer(args));
        ASSERT_TRUE(ok);
        ASSERT_TRUE(frame);
        EXPECT_EQ(info.ticket, 7u);
        EXPECT_EQ(frame->window().width(), 320);
        EXPECT_EQ(frame->window().height(), 200);
    }
}

TEST_F(CcfFormats, AnAliasChainThroughFilesThatComesBackEndsInNotFound)
{
    first.write("cycle_a.ccf", alias("Ccf Cycle A", "Ccf Cycle B"));
    first.write("cycle_b.ccf", alias("Ccf Cycle B", "Ccf Cycle C"));
    first.write("cycle_c.ccf", alias("Ccf Cycle C", "Ccf Cycle B"));
    const ccVideoFormat& format = ccVideoFormat::getFormat(L"Ccf Cycle A");
    EXPECT_THROW((void)format.description(true), ccVideoFormat::NotFound);
    EXPECT_THROW((void)format.defaultPelFormat(), ccVideoFormat::NotFound);
    EXPECT_THROW(delete format.newAcqFifo(cc7320::getBoard(0), -1), ccVideoFormat::NotFound);
}

TEST_F(CcfFormats, SwitchedOffNoFileIsReadUntilSwitchedOnAgain)
{
    first.write("switch.ccf", camera("Ccf Switch", 64, 48));
    env.set(L"QORALT_DISALLOW_CCF_READING", L"1");
    ccVideoFormat::installCcfReader(&cc_ccfReader::readIfAllowed);
    EXPECT_FALSE(defines("Ccf Switch"));
    const std::u16string builtin = ccVidFmtSonyXC75_640x480().name();
    EXPECT_EQ(&ccVideoFormat::getFormat(std::wstring(builtin.begin(), builtin.end())), &ccVidFmtSonyXC75_640x480());
    env.unset(L"QORALT_DISALLOW_CCF_READING");
    EXPECT_TRUE(defines("Ccf Switch"));
}

TEST_F(CcfFormats, OfTwoDirectoriesWithFilesOnlyTheFirstIsRead)
{
    first.write("one.ccf", camera("Ccf First Directory", 64, 48));
    second.write("two.ccf", camera("Ccf Second Directory", 64, 48));
    EXPECT_TRUE(defines("Ccf First Directory"));
    EXPECT_FALSE(defines("Ccf Second Directory"));
}

} // namespace
