#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "std/except/resource.h"
#include "std/rpc/startup.h"
#include "std/rpc/transfer.h"
#include "tests/support/fake_comm.h"

namespace {

using test_comm::Buf;
using test_comm::Pipe;

std::unique_ptr<ccTransferArchive> reader(const std::string& bytes)
{
    auto p = std::make_shared<Pipe>();
    p->write(bytes.data(), bytes.size());
    return std::make_unique<ccTransferArchive>(std::make_unique<Buf>(p, nullptr), ccArchive::loading, nullptr);
}

// The storing side writes its header into the buffer at once and sends the rest, little-endian, when destroyed (a
// failing send does not escape); the reading side takes the peer's byte order, and its stream buffer belongs to the
// archive from the call on: a constructor that fails frees it.
TEST(TransferArchive, StoringSendsItsHeaderThenLittleEndianValuesAndReadingTakesThePeersByteOrder)
{
    ccStdRpcStartup();
    auto pipe = std::make_shared<Pipe>();
    {
        auto* buffer = new Buf(nullptr, pipe);
        ccTransferArchive ar(std::unique_ptr<ccCommStreambuf>(buffer), ccArchive::storing, nullptr);
        EXPECT_TRUE(buffer->unsent == std::string("\x02\x01", 2) && pipe->pending().empty());
        uint32_t v = 0x11223344u;
        int32_t w = -2;
        ar.archive(v).archive(w);
    }
    EXPECT_EQ(pipe->pending(), (std::vector<uint8_t>{0x02, 0x01, 0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF}));
    auto failing = std::make_unique<Buf>(nullptr, std::make_shared<Pipe>());
    failing->failSync = true;
    EXPECT_NO_THROW(ccTransferArchive(std::move(failing), ccArchive::storing, nullptr));

    uint32_t v = 0;
    auto be = reader(std::string("\x02\x00\x11\x22\x33\x44", 6));
    be->archive(v);
    EXPECT_EQ(be->byteOrder(), ccArchive::bigEndian);
    EXPECT_EQ(v, 0x11223344u);
    EXPECT_THROW(reader(std::string("\x02\x07", 2)), ccArchive::BadBuffer);
    EXPECT_THROW(ccTransferArchive(nullptr, ccArchive::storing, nullptr), ccBadPointer);
}

// Opening and accepting through the scripted peer are the remote calls' own. A closed communicator opens nothing
// (or raises BrokenLock); neither it nor a failure changes an opened pair.
TEST(ArchivePair, FailuresLeaveThePairAsItWas)
{
    ccStdRpcStartup();
    test_comm::Communicator comm;
    std::unique_ptr<ccTransferArchive> peerOut;
    comm.onOpen = [&](test_comm::Peer& p) { // the serving side sends its header before it waits for ours
        peerOut = std::make_unique<ccTransferArchive>(std::move(p.storing), ccArchive::storing, nullptr);
        peerOut->sync();
    };
    ccRPCArchivePair pair;
    pair.open(comm, 1, 2.5);

    ccTransferArchive* reading = pair.reading();
    ccTransferArchive* storing = pair.storing();
    comm.closed = true;
    pair.accept(comm, 1, 1.0);
    EXPECT_THROW(pair.open(comm, 1, 1.0), cc_Resource::BrokenLock);
    EXPECT_EQ(comm.channels + comm.connects, 1);
    comm.closed = false;
    comm.onOpen = [](test_comm::Peer& p) { p.toUs->write("\x02\x09", 2); }; // a bad header: both new buffers freed
    EXPECT_THROW(pair.accept(comm, 2, 1.0), ccArchive::BadBuffer);
    EXPECT_TRUE(pair.reading() == reading && pair.storing() == storing);
}

} // namespace
