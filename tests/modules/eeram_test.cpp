#include "modules/eeram.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "modules/board.h"
#include "modules/fgproxy.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "tests/support/sim_module.h"

namespace {

struct NoStore : cc_Info {
    bool isAvailable() const override { return false; }
    uint32_t size() override { return 0; }
    void read(uint32_t, uint8_t*, uint32_t) override {}
    void write(uint32_t, const uint8_t*, uint32_t) override {}
};

struct Serial : ccBoard {
    explicit Serial(std::wstring text) : ccBoard(L"serial"), text(std::move(text)) {}
    std::wstring serialNumber() const override { return text; }
    std::wstring text;
};

// Whatever the locale: the process starts in "C", where the C library counts
// no character above 0x7F as printable.
TEST(PrintableText, EachByteIsOneCharacterAndOneThatDoesNotPrintIsAQuestionMark)
{
    const struct {
        std::vector<uint8_t> bytes;
        std::wstring text;
    } kCases[] = {
        {{0x41, 0x00, 0x42}, L"A?B"},
        {{}, L""},
        {{0x20, 0x7E, 0x7F, 0x1F, 0x80, 0x9F, 0xA0, 0xE9, 0xFF}, L" ~????\u00A0\u00E9\u00FF"},
    };
    for (const auto& c : kCases) {
        std::wstring out = L"stale";
        NoStore().toPrintableString(out, c.bytes);
        EXPECT_EQ(out, c.text);
        EXPECT_EQ(Serial(std::wstring(c.bytes.begin(), c.bytes.end())).printableSerialNumber(), c.text);
    }
}

// A plain module board over the simulated one, its engine and accessor made.
std::unique_ptr<ccUnknownFG> boardOver(sim_module::Board& sim)
{
    auto board = std::make_unique<ccUnknownFG>(std::make_unique<cc_BoardEntry>(sim.module, 0, L"sim0"),
                                               std::move(sim.board));
    board->createImplementation();
    return board;
}

std::vector<uint8_t> eeram(uint32_t size, const std::string& serial)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < serial.size() && ccEERAMSerialOffset + i < size; ++i)
        bytes[ccEERAMSerialOffset + i] = static_cast<uint8_t>(serial[i]);
    return bytes;
}

TEST(BoardSerial, ReadFromItsRecordUpToTheFirstZeroOrRaisingTheModulesError)
{
    ccModulesStartup();
    const struct {
        const char* what;
        bool offered;
        std::vector<uint8_t> contents;
        std::wstring serial;
    } kCases[] = {
        {"zero ends it", true, eeram(256, std::string("SN-1\x01\0Z", 7)), L"SN-1?"},
        {"at most the record", true, eeram(256, std::string(20, 'x')), std::wstring(16, L'x')},
        {"a short EERAM", true, eeram(ccEERAMSerialOffset + 2, "ABCD"), L"AB"},
        {"nothing in reach", true, eeram(ccEERAMSerialOffset, ""), L""},
        {"no EERAM", false, eeram(256, "SN"), L""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        sim_module::Board sim;
        sim_module::sim().setEERAM(c.contents.data(), static_cast<uint32_t>(c.contents.size()));
        sim_module::sim().setOffered(ccIidEERAM, c.offered);
        EXPECT_EQ(boardOver(sim)->serialNumber(), c.serial);
    }
    sim_module::Board sim;
    sim_module::failNext(ccIidEERAM, 4, ccBoard::HardwareNotResponding(L"gone", 7u));
    EXPECT_THROW((void)boardOver(sim)->serialNumber(), ccBoard::HardwareNotResponding);
}

// The auxiliary store is optional: without it its size is 0 and a write
// goes nowhere.
TEST(EERAMAccessor, WithoutTheAuxiliaryStoreItsCallsAnswerNeutrally)
{
    for (const bool aux : {true, false}) {
        sim_module::Board board;
        const std::unique_ptr<cc_UnknownFrameGrabber> grabber(
            cc_UnknownFrameGrabber::create(board.module, board.board.get()));
        sim_module::sim().setAnswer(ccIidEERAMAux, 3, 0, 64);
        sim_module::sim().setOffered(ccIidEERAMAux, aux);
        const std::unique_ptr<cc_Info> eeram = ccCreateEERAMAccessor(board.board.get(), *grabber);
        eeram->auxWrite(5, 6);
        EXPECT_EQ(std::make_tuple(eeram->auxSize(), sim_module::sim().callCount(ccIidEERAMAux, 4)),
                  aux ? std::make_tuple(64u, 1u) : std::make_tuple(0u, 0u));
    }
}

} // namespace
