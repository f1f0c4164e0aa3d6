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

std::string camera(const std::string& name, int width, int height)
{
    return "// " + name + "\nformat name = \"" + name + "\"\nformat width = " + std::to_string(width)
           + "\nformat height = " + std::to_string(height) + "\nformat peltype = mono\nccf_checksum 0xDEADC0DE\n";
}

std::string alias(const std::string& name, const std::string& to)
{
    return "format name = \"" + name + "\"\nformat format_alias = \"" + to + "\"\nccf_checksum 0xDEADC0DE\n";
}

// Files of a user's directory on the search path, after the driver's
// directory; the next look-up reads them again.
class CcfFormats : public testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        env.unset(L"QORALT_DISALLOW_CCF_READING");
        env.set(L"QORALT_PATH", first.wide());
        ccVideoFormat::installCcfReader(&cc_ccfReader::readIfAllowed);
    }
    void TearDown() override { EXPECT_EQ(sim().liveFifos(), 0u); }

    ScopedEnv env;
    TempDir first;
};

TEST_F(CcfFormats, AFormatFromAFileAcquiresAnImageOfTheFilesSize)
{
    first.write("e2e.ccf", camera("Ccf End To End 320x200", 320, 200));
    first.write("e2e_alias.ccf", alias("Ccf End To End Alias", "Ccf End To End 320x200"));
    for (const wchar_t* name : {L"Ccf End To End 320x200", L"Ccf End To End Alias"}) {
        const ccVideoFormat& format = ccVideoFormat::getFormat(name);
        // The board takes the size from the format's description, as a real
        // one takes it from the camera file.
        const cs_vidFmtRecord* record = format.description(true).record();
        sim().setFrameSize(static_cast<uint32_t>(record->width), static_cast<uint32_t>(record->height));
        std::unique_ptr<ccAcqFifo> fifo(format.newAcqFifo(cc7320::getBoard(0), -1));
        ASSERT_TRUE(fifo && fifo->start(7));
        EXPECT_EQ(fifo->pelFormat(), 1u); // the file's pel type, mono
        ccAcquireInfo info;
        bool ok = false;
        ccAcqCompleteArgs args;
        args.timeout = 5.0;
        args.info = &info;
        args.outcome = &ok;
        std::unique_ptr<cc_PelBuffer> frame(fifo->completeToBuffer(args));
        ASSERT_TRUE(ok && frame);
        EXPECT_TRUE(info.ticket == 7u && frame->window().width() == 320 && frame->window().height() == 200);
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

// The built-in formats are found all the same.
TEST_F(CcfFormats, SwitchedOffNoFileIsReadUntilSwitchedOnAgain)
{
    first.write("switch.ccf", camera("Ccf Switch", 64, 48));
    env.set(L"QORALT_DISALLOW_CCF_READING", L"1");
    ccVideoFormat::installCcfReader(&cc_ccfReader::readIfAllowed);
    EXPECT_THROW((void)ccVideoFormat::getFormat(L"Ccf Switch"), ccVideoFormat::NotFound);
    const std::u16string builtin = ccVidFmtSonyXC75_640x480().name();
    EXPECT_EQ(&ccVideoFormat::getFormat(std::wstring(builtin.begin(), builtin.end())), &ccVidFmtSonyXC75_640x480());
    env.unset(L"QORALT_DISALLOW_CCF_READING");
    EXPECT_NO_THROW((void)ccVideoFormat::getFormat(L"Ccf Switch"));
}

} // namespace
