#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "std/except/resource.h"
#include "std/rpc/startup.h"
#include "std/rpc/transfer.h"
#include "tests/support/fake_comm.h"

namespace {

using test_comm::Buf;
using test_comm::Pipe;
typedef std::vector<unsigned char> Bytes;

std::unique_ptr<ccTransferArchive> reader(const std::string& bytes)
{
    auto p = std::make_shared<Pipe>();
    p->write(bytes.data(), bytes.size());
    return std::make_unique<ccTransferArchive>(std::make_unique<Buf>(p, nullptr), ccArchive::loading, nullptr);
}

class TransferArchive : public ::testing::Test {
protected:
    void SetUp() override { ccStdRpcStartup(); }
};

// The header is written into the buffer at once; the rest is sent by the
// archive's destruction.
TEST_F(TransferArchive, StoringSideWritesItsHeaderFirstAndSendsLittleEndianValuesWhenDestroyed)
{
    auto pipe = std::make_shared<Pipe>();
    {
        auto* buffer = new Buf(nullptr, pipe);
        ccTransferArchive ar(std::unique_ptr<ccCommStreambuf>(buffer), ccArchive::storing, nullptr);
        EXPECT_EQ(buffer->unsent, std::string("\x02\x01", 2));
        EXPECT_TRUE(pipe->pending().empty());
        uint32_t v = 0x11223344u;
        int32_t w = -2;
        ar.archive(v).archive(w);
    }
    EXPECT_EQ(pipe->pending(), (Bytes{0x02, 0x01, 0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF}));

    // A failing send at destruction does not escape.
    auto failing = std::make_unique<Buf>(nullptr, std::make_shared<Pipe>());
    Buf* raw = failing.get();
    auto ar = std::make_unique<ccTransferArchive>(std::move(failing), ccArchive::storing, nullptr);
    raw->failSync = true;
    EXPECT_NO_THROW(ar.reset());
}

TEST_F(TransferArchive, ReadingSideTakesThePeersByteOrderAndAwaitsTheHeaderWithoutLimit)
{
    uint32_t v = 0;
    reader(std::string("\x02\x01\x44\x33\x22\x11", 6))->archive(v);
    EXPECT_EQ(v, 0x11223344u);
    auto be = reader(std::string("\x02\x00\x11\x22\x33\x44", 6));
    EXPECT_EQ(be->byteOrder(), ccArchive::bigEndian);
    be->archive(v);
    EXPECT_EQ(v, 0x11223344u);

    // The stream buffer belongs to the archive from the call on: a
    // constructor that fails frees it.
    EXPECT_THROW(reader(std::string("\x02\x07", 2)), ccArchive::BadBuffer);
    EXPECT_THROW(ccTransferArchive(nullptr, ccArchive::storing, nullptr), ccBadPointer);

    // Whatever time-out the transport had, the header is awaited without limit.
    auto pipe = std::make_shared<Pipe>();
    auto buffer = std::make_unique<Buf>(pipe, nullptr);
    buffer->setTimeout(0.001);
    std::thread late([pipe] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pipe->write("\x02\x01", 2);
    });
    ccTransferArchive ar(std::move(buffer), ccArchive::loading, nullptr);
    late.join();
    EXPECT_TRUE(std::isinf(ar.transferBuffer().timeout()));
}

class ArchivePair : public ::testing::Test {
protected:
    void SetUp() override
    {
        ccStdRpcStartup();
        // The serving side sends its header before it waits for ours.
        comm.onOpen = [this](test_comm::Peer& p) {
            peerOut = std::make_unique<ccTransferArchive>(std::move(p.storing), ccArchive::storing, nullptr);
            peerOut->sync();
        };
    }

    test_comm::Communicator comm;
    std::unique_ptr<ccTransferArchive> peerOut;
};

// open connects to an endpoint (accept, which opens numbered channels,
// carries every remote call). A closed communicator opens nothing (or
// raises BrokenLock); neither it nor a failure changes an opened pair.
TEST_F(ArchivePair, OpenConnectsAndFailuresLeaveThePairAsItWas)
{
    ccRPCArchivePair pair;
    pair.open(comm, 1, 2.5);
    EXPECT_TRUE(comm.connects == 1 && comm.channels == 0 && comm.lastTimeout == 2.5);
    EXPECT_TRUE(pair.storing()->isStoring() && pair.reading()->communicator() == &comm);
    int32_t sent = -42, received = 0;
    peerOut->archive(sent);
    peerOut->sync();
    pair.reading()->archive(received);
    EXPECT_EQ(received, -42);

    ccTransferArchive* reading = pair.reading();
    ccTransferArchive* storing = pair.storing();
    comm.closed = true;
    pair.accept(comm, 1, 1.0);
    EXPECT_THROW(pair.open(comm, 1, 1.0), cc_Resource::BrokenLock);
    EXPECT_EQ(comm.channels + comm.connects, 1);
    comm.closed = false;
    // A communicator that hands out no buffers has no connection to offer.
    comm.openNothing = true;
    EXPECT_THROW(pair.accept(comm, 2, 1.0), cc_Resource::BrokenLock);
    comm.openNothing = false;
    // A bad header from the peer (both new buffers are freed).
    comm.onOpen = [](test_comm::Peer& p) { p.toUs->write("\x02\x09", 2); };
    EXPECT_THROW(pair.accept(comm, 2, 1.0), ccArchive::BadBuffer);
    EXPECT_TRUE(pair.reading() == reading && pair.storing() == storing);
}

} // namespace
