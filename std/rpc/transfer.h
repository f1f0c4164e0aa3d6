// Binary archives over a communicator's stream buffers, and the pair of them
// that one connection uses.
//
// Each direction starts with the archive header. This side always stores
// little-endian; its reading archive takes the peer's byte order from the
// peer's header. A new reading archive waits for that header for as long as
// its stream buffer lets it (without limit at first), so the serving side of
// a connection writes and sends its header before it waits for the caller's.
#pragma once
#include <cstdint>
#include <memory>

#include "std/except/archive.h"
#include "std/rpc/communicator.h"

namespace cc_detail {
// Kept in front of the archive part so that the stream buffer outlives it,
// and is freed also when the archive's constructor throws.
struct ccTransferArchiveBuffer {
    explicit ccTransferArchiveBuffer(std::unique_ptr<ccCommStreambuf> b) : buffer(std::move(b)) {}
    std::unique_ptr<ccCommStreambuf> buffer;
};
} // namespace cc_detail

class ccTransferArchive : private cc_detail::ccTransferArchiveBuffer, public ccArchive {
public:
    // Takes the buffer (ccBadPointer when it is empty), sets its time-out to
    // infinity and processes the header: a storing archive writes it, a
    // loading archive reads it. The communicator is only referred to.
    ccTransferArchive(std::unique_ptr<ccCommStreambuf> buffer, int32_t mode, ccCommunicator* communicator);
    // Sends what is still stored; never throws.
    ~ccTransferArchive() override;

    // Later reads and writes on the buffer wait at most this long.
    void setTimeout(double seconds) { buffer->setTimeout(seconds); }
    // Sends what has been stored.
    void sync();

    ccCommunicator* communicator() const { return communicator_; }
    ccCommStreambuf& transferBuffer() const { return *buffer; }

private:
    ccCommunicator* communicator_;
};

class ccRPCArchivePair {
public:
    ccRPCArchivePair() = default;
    ccRPCArchivePair(const ccRPCArchivePair&) = delete;
    ccRPCArchivePair& operator=(const ccRPCArchivePair&) = delete;
    // The storing archive goes first, then the reading one.
    ~ccRPCArchivePair();

    // Opens the channel or base connection `number` of c. A closed
    // communicator opens nothing and the pair keeps what it had.
    void accept(ccCommunicator& c, uint16_t number, double timeoutSeconds);
    // Connects to endpoint of c; a closed communicator raises
    // cc_Resource::BrokenLock.
    void open(ccCommunicator& c, uint16_t endpoint, double timeoutSeconds);

    // Null until the pair is opened.
    ccTransferArchive* reading() const { return reading_.get(); }
    ccTransferArchive* storing() const { return storing_.get(); }

private:
    // Both archives are built before either replaces the pair's, so a
    // failure anywhere leaves the pair as it was.
    void openWith(ccCommunicator& c, uint16_t number, double timeoutSeconds, bool viaConnect);

    // Declared in this order so that the storing archive is destroyed first.
    std::unique_ptr<ccTransferArchive> reading_;
    std::unique_ptr<ccTransferArchive> storing_;
};
