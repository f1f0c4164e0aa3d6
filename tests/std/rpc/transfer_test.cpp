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
#include "std/timeout.h"
#include "tests/support/fake_comm.h"

namespace {

using test_comm::Buf;
using test_comm::Pipe;
typedef std::vector<unsigned char> Bytes;

std::shared_ptr<Pipe> pipeWith(const std::string& bytes, bool closed = false)
{
    auto p = std::make_shared<Pipe>();
    p->write(bytes.data(), bytes.size());
    if (closed)
        p->close();
    return p;
}

std::unique_ptr<ccTransferArchive> reader(std::shared_ptr<Pipe> p, int* destroyed = nullptr)
{
    return std::make_unique<ccTransferArchive>(std::make_unique<Buf>(std::move(p), nullptr, destroyed), ccArchive::loading,
                                               nullptr);
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

    // A failing send at destruction does not escape, and the buffer is still freed.
    int destroyed = 0;
    auto failing = std::make_unique<Buf>(nullptr, std::make_shared<Pipe>(), &destroyed);
    Buf* raw = failing.get();
    auto ar = std::make_unique<ccTransferArchive>(std::move(failing), ccArchive::storing, nullptr);
    raw->failSync = true;
    EXPECT_NO_THROW(ar.reset());
    EXPECT_EQ(destroyed, 1);
}

TEST_F(TransferArchive, ReadingSideTakesThePeersByteOrderAndFailedConstructionFreesTheBuffer)
{
    auto ar = reader(pipeWith(std::string("\x02\x01\x44\x33\x22\x11\x05", 7), true));
    uint32_t v = 0;
    ar->archive(v);
    EXPECT_EQ(v, 0x11223344u);
    EXPECT_THROW(ar->archive(v), ccArchive::Eof); // the peer's stream ended

    auto be = reader(pipeWith(std::string("\x02\x00\x11\x22\x33\x44", 6)));
    EXPECT_EQ(be->byteOrder(), ccArchive::bigEndian);
    be->archive(v);
    EXPECT_EQ(v, 0x11223344u);

    // The stream buffer belongs to the archive from the call on: a
    // constructor that fails frees it.
    int destroyed = 0;
    EXPECT_THROW(reader(pipeWith(std::string("\x02\x07", 2)), &destroyed), ccArchive::BadBuffer);
    EXPECT_THROW(reader(pipeWith("", true), &destroyed), ccArchive::Eof);
    auto refusing = std::make_unique<Buf>(nullptr, std::make_shared<Pipe>(), &destroyed);
    refusing->refuseAfter = 1;
    EXPECT_THROW(ccTransferArchive(std::move(refusing), ccArchive::storing, nullptr), ccArchive::BadBuffer);
    EXPECT_EQ(destroyed, 3);
    EXPECT_THROW(ccTransferArchive(nullptr, ccArchive::storing, nullptr), ccBadPointer);
}

TEST_F(TransferArchive, TimeOutStartsInfiniteAndBoundsLaterReads)
{
    auto pipe = pipeWith(std::string("\x02\x01", 2));
    auto buffer = std::make_unique<Buf>(pipe, nullptr);
    buffer->setTimeout(0.001); // whatever the transport had: the header is awaited without limit
    ccTransferArchive ar(std::move(buffer), ccArchive::loading, nullptr);
    EXPECT_TRUE(std::isinf(ar.transferBuffer().timeout()));

    ar.setTimeout(0.05);
    const auto start = std::chrono::steady_clock::now();
    uint32_t v = 0;
    EXPECT_THROW(ar.archive(v), ccTimeout::Expired);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(waited >= 0.04 && waited < 5.0) << waited;
    // A value that arrives later is read normally.
    pipe->write("\x07\x00\x00\x00", 4);
    ar.archive(v);
    EXPECT_EQ(v, 7u);
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

// accept opens a numbered channel, open connects to an endpoint; either
// pair carries values both ways to a peer on another thread, which sends its
// header, then waits for ours and answers one request.
TEST_F(ArchivePair, AcceptAndOpenServeAPeerOnAnotherThread)
{
    std::thread server;
    comm.onOpen = [&](test_comm::Peer& p) {
        server = std::thread([in = std::move(p.reading), out = std::move(p.storing)]() mutable {
            ccTransferArchive peerOut(std::move(out), ccArchive::storing, nullptr);
            peerOut.sync();
            ccTransferArchive peerIn(std::move(in), ccArchive::loading, nullptr);
            peerIn.setTimeout(10.0);
            int32_t question = 0;
            peerIn.archive(question);
            int32_t answer = question * -2;
            peerOut.archive(answer);
            peerOut.sync();
        });
    };
    for (bool viaConnect : {false, true}) {
        SCOPED_TRACE(viaConnect ? "open" : "accept");
        ccRPCArchivePair pair;
        viaConnect ? pair.open(comm, 1, 30.0) : pair.accept(comm, 7, 2.5);
        EXPECT_TRUE(comm.connects == (viaConnect ? 1 : 0) && comm.channels == 1);
        EXPECT_EQ(comm.lastTimeout, viaConnect ? 30.0 : 2.5);
        EXPECT_TRUE(pair.reading()->isLoading() && pair.storing()->isStoring() && pair.reading()->communicator() == &comm);
        pair.reading()->setTimeout(10.0);
        int32_t question = 21, answer = 0;
        pair.storing()->archive(question);
        pair.storing()->sync();
        pair.reading()->archive(answer);
        server.join();
        EXPECT_EQ(answer, -42);
    }
}

// A closed communicator opens nothing (or raises BrokenLock); neither it nor
// a failure changes an opened pair.
TEST_F(ArchivePair, ClosedCommunicatorAndFailuresLeaveThePairAsItWas)
{
    comm.closed = true;
    ccRPCArchivePair pair;
    pair.accept(comm, 1, 1.0);
    EXPECT_TRUE(pair.reading() == nullptr && pair.storing() == nullptr);
    EXPECT_THROW(pair.open(comm, 1, 1.0), cc_Resource::BrokenLock);
    EXPECT_EQ(comm.channels + comm.connects, 0);

    comm.closed = false;
    pair.accept(comm, 2, 1.0);
    ccTransferArchive* reading = pair.reading();
    ccTransferArchive* storing = pair.storing();
    const int before = comm.buffersDestroyed;
    comm.closed = true;
    pair.accept(comm, 1, 1.0);
    comm.closed = false;
    // The communicator's own error passes through unchanged.
    comm.onOpen = [](test_comm::Peer&) { throw cc_Resource::Timeout(); };
    EXPECT_THROW(pair.accept(comm, 2, 1.0), cc_Resource::Timeout);
    // A communicator that hands out no buffers has no connection to offer.
    comm.openNothing = true;
    EXPECT_THROW(pair.accept(comm, 2, 1.0), cc_Resource::BrokenLock);
    comm.openNothing = false;
    // A bad header from the peer: both new buffers are freed.
    comm.onOpen = [](test_comm::Peer& p) { p.toUs->write("\x02\x09", 2); };
    EXPECT_THROW(pair.accept(comm, 2, 1.0), ccArchive::BadBuffer);
    EXPECT_EQ(comm.buffersDestroyed, before + 2);

    EXPECT_TRUE(pair.reading() == reading && pair.storing() == storing);
}

} // namespace
