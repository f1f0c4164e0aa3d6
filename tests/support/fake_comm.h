// A communicator for tests: every connection it opens is a pair of in-memory
// pipes whose far ends the test holds as the peer. Tests that need only a
// destination (a peer, or the closed in-process proxy) use it as it is.
#pragma once
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "std/rpc/communicator.h"
#include "std/timeout.h"

namespace test_comm {

// One direction of a connection.
class Pipe {
public:
    void write(const char* data, size_t size)
    {
        std::lock_guard<std::mutex> hold(lock_);
        bytes_.insert(bytes_.end(), data, data + size);
        ready_.notify_all();
    }
    // The writing end is gone: a reader that has read everything sees the end.
    void close()
    {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
        ready_.notify_all();
    }
    // Waits at most seconds (HUGE_VAL: without limit) for at least one byte;
    // ccTimeout::Expired when none came, 0 at the end.
    size_t read(char* out, size_t size, double seconds)
    {
        std::unique_lock<std::mutex> hold(lock_);
        const auto arrived = [&] { return !bytes_.empty() || closed_; };
        if (std::isinf(seconds))
            ready_.wait(hold, arrived);
        else if (!ready_.wait_for(hold, std::chrono::duration<double>(seconds > 0 ? seconds : 0), arrived))
            throw ccTimeout::Expired();
        size_t n = 0;
        for (; n < size && !bytes_.empty(); bytes_.pop_front())
            out[n++] = bytes_.front();
        return n;
    }
    // Bytes written and not yet read.
    std::vector<unsigned char> pending()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return std::vector<unsigned char>(bytes_.begin(), bytes_.end());
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<char> bytes_;
    bool closed_ = false;
};

// One end of a connection: reads what arrives on `in`, keeps what is stored
// until pubsync sends it on `out`, and closes `out` when it goes; can be told
// to fail when synchronised. (A buffer that is never freed is left to the
// leak sanitizer.)
class Buf : public ccCommStreambuf {
public:
    Buf(std::shared_ptr<Pipe> in, std::shared_ptr<Pipe> out) : in_(std::move(in)), out_(std::move(out)) {}
    ~Buf() override
    {
        if (out_)
            out_->close();
    }
    std::string unsent;
    bool failSync = false;

protected:
    int_type underflow() override
    {
        if (gptr() == egptr()) {
            const size_t n = in_->read(chunk_, sizeof chunk_, timeout());
            if (n == 0)
                return traits_type::eof();
            setg(chunk_, chunk_, chunk_ + n);
        }
        return traits_type::to_int_type(*gptr());
    }
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        unsent += traits_type::to_char_type(c);
        return c;
    }
    int sync() override
    {
        if (failSync)
            throw std::runtime_error("link down");
        if (out_)
            out_->write(unsent.data(), unsent.size());
        unsent.clear();
        return 0;
    }

private:
    std::shared_ptr<Pipe> in_;
    std::shared_ptr<Pipe> out_;
    char chunk_[64];
};

// The peer's ends of one connection.
struct Peer {
    std::unique_ptr<ccCommStreambuf> reading; // what this side stores
    std::unique_ptr<ccCommStreambuf> storing; // what this side reads
    std::shared_ptr<Pipe> toUs;
    std::shared_ptr<Pipe> toPeer;
};

class Communicator : public ccCommunicator {
public:
    typedef std::unique_ptr<ccCommStreambuf> Buffer;
    bool closed = false;      // answers as the in-process proxy does
    bool openNothing = false; // leaves the out buffers empty
    int connects = 0;
    int channels = 0;
    double lastTimeout = 0;
    // Runs as the peer, once its ends exist and before this side's are
    // handed out.
    std::function<void(Peer&)> onOpen;
    // Replaces the answer of isClosed.
    std::function<bool()> isClosedHook;

    ~Communicator() override { unlist(); }

    bool isClosed() override { return isClosedHook ? isClosedHook() : closed; }
    bool isSecondary() override { return false; }
    void connect(uint16_t, Buffer& reading, Buffer& storing, double timeoutSeconds) override
    {
        ++connects;
        open(reading, storing, timeoutSeconds);
    }
    void openChannel(uint16_t, Buffer& reading, Buffer& storing, double timeoutSeconds) override
    {
        ++channels;
        open(reading, storing, timeoutSeconds);
    }

private:
    void open(Buffer& reading, Buffer& storing, double timeoutSeconds)
    {
        lastTimeout = timeoutSeconds;
        if (openNothing)
            return;
        Peer p{nullptr, nullptr, std::make_shared<Pipe>(), std::make_shared<Pipe>()};
        p.reading = std::make_unique<Buf>(p.toPeer, nullptr);
        p.storing = std::make_unique<Buf>(nullptr, p.toUs);
        if (onOpen)
            onOpen(p);
        reading = std::make_unique<Buf>(p.toUs, nullptr);
        storing = std::make_unique<Buf>(nullptr, p.toPeer);
    }
};

// The id of a communicator that has come and gone: it names nothing.
inline ccRPCDestination goneDestination()
{
    Communicator c;
    return c.destination();
}

} // namespace test_comm
