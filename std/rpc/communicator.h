// The transport to a peer, and the 32-bit word that names it.
//
// A communicator is owned by the hardware-module code that made it; remote
// calls and remote pel roots only refer to it. They refer to it by its
// destination, a 32-bit id from a process-wide table of live communicators,
// so that the word can be stored and sent as it is and a communicator that
// has gone is recognised instead of being dereferenced. Destination 0 is
// this process.
#pragma once
#include <cmath>
#include <cstdint>
#include <memory>
#include <streambuf>

class ccCommunicator;
class ccPelRect;
template <class T>
class ccPelBuffer;

// What a communicator whose pels are reached directly (the in-process
// board-module proxy) offers for copying them: the pels of rect in the root
// that it names remoteId (rootWidth pels wide) go into the window of into.
class ccImageTransfer {
public:
    virtual void transfer(ccPelBuffer<unsigned char>& into, const ccPelRect& rect, int32_t rootWidth,
                          uint32_t remoteId, bool transferFlag) = 0;

protected:
    ~ccImageTransfer() = default;
};

// A narrow stream buffer that moves bytes to or from a peer. Reads and writes
// wait at most the time-out, in seconds (HUGE_VAL: without limit); pubsync
// sends what has been stored. What happens when the time runs out is the
// transport's: it raises a library exception.
class ccCommStreambuf : public std::streambuf {
public:
    ccCommStreambuf() = default;
    ccCommStreambuf(const ccCommStreambuf&) = delete;
    ccCommStreambuf& operator=(const ccCommStreambuf&) = delete;

    void setTimeout(double seconds) { timeout_ = seconds; }
    double timeout() const { return timeout_; }

private:
    double timeout_ = HUGE_VAL;
};

class ccRPCDestination {
public:
    // This process.
    constexpr ccRPCDestination() = default;
    // The word as stored or sent; it is resolved only when used.
    explicit constexpr ccRPCDestination(uint32_t id) : id_(id) {}

    uint32_t id() const { return id_; }
    bool isLocal() const { return id_ == 0; }
    explicit operator bool() const { return id_ != 0; }
    bool operator==(const ccRPCDestination& other) const { return id_ == other.id_; }
    bool operator!=(const ccRPCDestination& other) const { return id_ != other.id_; }

    // The live communicator of the id: null for 0, ccRemoteObject::ObjectMismatch
    // for an id that names none (never given out, or its communicator is gone
    // or going). The caller keeps the communicator's owner from destroying it
    // meanwhile; a caller that cannot, holds it with ccCommunicatorHold.
    ccCommunicator* communicator() const;

private:
    uint32_t id_ = 0;
};

class ccCommunicator {
public:
    ccCommunicator(const ccCommunicator&) = delete;
    ccCommunicator& operator=(const ccCommunicator&) = delete;
    // Leaves the table (see unlist) if the derived class has not.
    virtual ~ccCommunicator();

    // True when no connection to the peer can be opened. The in-process
    // board-module proxy answers true: its pels are reached directly.
    virtual bool isClosed() = 0;
    // True when this process is the second side, whose own endpoint is one
    // higher.
    virtual bool isSecondary() = 0;
    // Opens the connection to an endpoint and hands over its two stream
    // buffers, which the caller then owns. Failures raise library
    // exceptions. A communicator that opens nothing leaves them empty.
    virtual void connect(uint16_t endpoint, std::unique_ptr<ccCommStreambuf>& reading,
                         std::unique_ptr<ccCommStreambuf>& storing, double timeoutSeconds) = 0;
    // The same for an endpoint's base connection or a numbered channel.
    virtual void openChannel(uint16_t number, std::unique_ptr<ccCommStreambuf>& reading,
                             std::unique_ptr<ccCommStreambuf>& storing, double timeoutSeconds) = 0;

    // The image-transfer service; null when the communicator has none.
    virtual ccImageTransfer* imageTransfer() { return nullptr; }

    // The id under which this communicator is listed; never 0.
    ccRPCDestination destination() const { return destination_; }

protected:
    // Enters the table under a new id.
    ccCommunicator();

    // Leaves the table: the id names nothing from then on, and the call
    // returns once no ccCommunicatorHold of another thread is inside the
    // communicator. Every derived destructor calls it first, before its
    // members go and before it takes locks that its overrides take: look-ups
    // come from any thread (pel-root reference counting), and one that
    // reached the object later would find its derived part gone. Calling it
    // again does nothing. A thread that holds the communicator itself must
    // not destroy it. Objects reached through the communicator (remote pel
    // roots) are released before: after unlist they can no longer tell the
    // peer, whose references they would leak.
    void unlist();

private:
    ccRPCDestination destination_;
};

// Keeps a communicator from leaving the table while it is used: the
// communicator's unlist, and with it its destruction, waits until the hold
// is gone.
class ccCommunicatorHold {
public:
    // Null for destination 0; ccRemoteObject::ObjectMismatch for an id that
    // names no live communicator.
    explicit ccCommunicatorHold(ccRPCDestination destination);
    ~ccCommunicatorHold();
    ccCommunicatorHold(const ccCommunicatorHold&) = delete;
    ccCommunicatorHold& operator=(const ccCommunicatorHold&) = delete;

    ccCommunicator* get() const { return communicator_; }
    ccCommunicator* operator->() const { return communicator_; }
    explicit operator bool() const { return communicator_ != nullptr; }

private:
    uint32_t id_;
    ccCommunicator* communicator_;
};
