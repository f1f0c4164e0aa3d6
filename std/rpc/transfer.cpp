#include "std/rpc/transfer.h"

#include <cmath>
#include <utility>

#include "std/except/resource.h"

namespace {

std::unique_ptr<ccCommStreambuf> checked(std::unique_ptr<ccCommStreambuf> buffer)
{
    if (!buffer)
        throw ccBadPointer();
    return buffer;
}

} // namespace

ccTransferArchive::ccTransferArchive(std::unique_ptr<ccCommStreambuf> b, int32_t mode, ccCommunicator* communicator)
    : cc_detail::ccTransferArchiveBuffer(checked(std::move(b))),
      ccArchive(buffer.get(), mode, littleEndian, false),
      communicator_(communicator)
{
    buffer->setTimeout(HUGE_VAL);
    archiveHeader();
}

ccTransferArchive::~ccTransferArchive()
{
    // flush swallows library errors; a transport may raise others.
    try {
        flush();
    } catch (...) {
    }
}

void ccTransferArchive::sync() { buffer->pubsync(); }

ccRPCArchivePair::~ccRPCArchivePair() = default;

void ccRPCArchivePair::accept(ccCommunicator& c, uint16_t number, double timeoutSeconds)
{
    if (c.isClosed())
        return;
    openWith(c, number, timeoutSeconds, false);
}

void ccRPCArchivePair::open(ccCommunicator& c, uint16_t endpoint, double timeoutSeconds)
{
    if (c.isClosed())
        throw cc_Resource::BrokenLock();
    openWith(c, endpoint, timeoutSeconds, true);
}

void ccRPCArchivePair::openWith(ccCommunicator& c, uint16_t number, double timeoutSeconds, bool viaConnect)
{
    std::unique_ptr<ccCommStreambuf> first;
    std::unique_ptr<ccCommStreambuf> second;
    if (viaConnect)
        c.connect(number, first, second, timeoutSeconds);
    else
        c.openChannel(number, first, second, timeoutSeconds);
    // A communicator that opened nothing has no connection to offer.
    if (!first || !second)
        throw cc_Resource::BrokenLock();
    // The reading archive first: it waits for the peer's header.
    auto newReading = std::make_unique<ccTransferArchive>(std::move(first), ccArchive::loading, &c);
    auto newStoring = std::make_unique<ccTransferArchive>(std::move(second), ccArchive::storing, &c);
    reading_ = std::move(newReading);
    storing_ = std::move(newStoring);
}
