// The hand-over of an acquired frame into a local root, against one memcpy
// of the same bytes:
//   - a 2048 x 2048 8-bit frame held by the in-process module proxy, whose
//     image-transfer service copies it;
//   - a 1024 x 1024 packed RGB32 frame held by a peer in this process,
//     fetched over an in-memory connection (the peer's copy into the reply,
//     the transport and the copy out of it all count).
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQORX_BUILD_BENCH=ON
//   cmake --build build-bench --target bench_handover
//   build-bench/bench/bench_handover
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/pelrpc.h"
#include "std/pelbuf/startup.h"
#include "system/csys_copy.h"

namespace {

constexpr int32_t kWidth8 = 2048, kHeight8 = 2048;
constexpr int32_t kWidth32 = 1024, kHeight32 = 1024;

void BM_Memcpy(benchmark::State& state)
{
    const size_t bytes = size_t(state.range(0));
    std::vector<unsigned char> from(bytes, 0x5A), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_Memcpy)->Arg(kWidth8 * kHeight8)->Arg(kWidth32 * kHeight32 * 4);

// ---- the in-process proxy ----

class Proxy : public ccCommunicator, public ccImageTransfer {
public:
    Proxy() : frame_(size_t(kWidth8) * kHeight8, 0x5A) {}
    ~Proxy() override { unlist(); }
    bool isClosed() override { return true; }
    bool isSecondary() override { return false; }
    void connect(uint16_t, std::unique_ptr<ccCommStreambuf>&, std::unique_ptr<ccCommStreambuf>&, double) override {}
    void openChannel(uint16_t, std::unique_ptr<ccCommStreambuf>&, std::unique_ptr<ccCommStreambuf>&, double) override
    {
    }
    ccImageTransfer* imageTransfer() override { return this; }
    void transfer(ccPelBuffer<unsigned char>& into, const ccPelRect& rect, int32_t rootWidth, uint32_t, bool) override
    {
        const ccPelRoot<unsigned char>& root = into.typedRoot();
        (void)csys_memCopy2D(int32_t(rect.width()), int32_t(rect.height()), rootWidth, root.stride(),
                             frame_.data() + size_t(rect.y0()) * size_t(rootWidth) + size_t(rect.x0()),
                             into.windowStart());
    }

private:
    std::vector<unsigned char> frame_;
};

void BM_HandOver8FromTheProxy(benchmark::State& state)
{
    ccStdPelbufStartup();
    Proxy proxy;
    for (auto _ : state) {
        ccPelBuffer<unsigned char> acquired(
            new ccPelRoot<unsigned char>(proxy.destination(), 1, kWidth8, kHeight8));
        ccPelBuffer<unsigned char> local = ccPelBuffer<unsigned char>::fromRemote(acquired, false);
        benchmark::DoNotOptimize(local.windowStart());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth8 * kHeight8);
}
BENCHMARK(BM_HandOver8FromTheProxy)->Unit(benchmark::kMicrosecond);

// ---- a peer over an in-memory connection ----

// One direction: blocks of bytes handed over whole (the byte-wise pipes of the
// test communicator would dominate what is measured).
class Pipe {
public:
    void write(std::vector<char> block)
    {
        std::lock_guard<std::mutex> hold(lock_);
        blocks_.push_back(std::move(block));
        ready_.notify_one();
    }
    void close()
    {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
        ready_.notify_one();
    }
    // The next block; empty at the end.
    std::vector<char> read()
    {
        std::unique_lock<std::mutex> hold(lock_);
        ready_.wait(hold, [&] { return !blocks_.empty() || closed_; });
        if (blocks_.empty())
            return {};
        std::vector<char> b = std::move(blocks_.front());
        blocks_.pop_front();
        return b;
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<std::vector<char>> blocks_;
    bool closed_ = false;
};

// Stores into a block that pubsync sends; reads block by block.
class Buf : public ccCommStreambuf {
public:
    Buf(std::shared_ptr<Pipe> in, std::shared_ptr<Pipe> out) : in_(std::move(in)), out_(std::move(out)) {}
    ~Buf() override
    {
        if (out_)
            out_->close();
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            pending_.push_back(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        // A frame goes as one block, as a transport would send it.
        if (pending_.capacity() - pending_.size() < size_t(n))
            pending_.reserve(pending_.size() + size_t(n) + 64);
        pending_.insert(pending_.end(), s, s + n);
        return n;
    }
    int sync() override
    {
        if (out_ && !pending_.empty())
            out_->write(std::move(pending_));
        pending_.clear();
        return 0;
    }
    int_type underflow() override
    {
        if (gptr() == egptr()) {
            current_ = in_->read();
            if (current_.empty())
                return traits_type::eof();
            setg(current_.data(), current_.data(), current_.data() + current_.size());
        }
        return traits_type::to_int_type(*gptr());
    }

private:
    std::shared_ptr<Pipe> in_, out_;
    std::vector<char> pending_, current_;
};

// Serves the function table, channel opens and the packed RGB32 fetch from a
// frame of its own, one thread per connection.
class Peer : public ccCommunicator {
public:
    Peer() : frame_(size_t(kWidth32) * kHeight32)
    {
        for (size_t i = 0; i < frame_.size(); ++i)
            frame_[i].value = uint32_t(i);
    }
    ~Peer() override { unlist(); }
    bool isClosed() override { return false; }
    bool isSecondary() override { return false; }
    void connect(uint16_t, std::unique_ptr<ccCommStreambuf>& r, std::unique_ptr<ccCommStreambuf>& s,
                 double) override
    {
        open(r, s);
    }
    void openChannel(uint16_t, std::unique_ptr<ccCommStreambuf>& r, std::unique_ptr<ccCommStreambuf>& s,
                     double) override
    {
        open(r, s);
    }

private:
    void open(std::unique_ptr<ccCommStreambuf>& reading, std::unique_ptr<ccCommStreambuf>& storing)
    {
        auto toUs = std::make_shared<Pipe>(), toPeer = std::make_shared<Pipe>();
        auto out = std::make_shared<ccTransferArchive>(std::make_unique<Buf>(nullptr, toUs), ccArchive::storing,
                                                       nullptr);
        out->sync();
        std::thread([this, out, toPeer] {
            try {
                ccTransferArchive in(std::make_unique<Buf>(toPeer, nullptr), ccArchive::loading, nullptr);
                for (;;) {
                    uint32_t function = 0;
                    in.archive(function);
                    serve(int32_t(function), in, *out);
                    out->sync();
                }
            } catch (...) {
            }
        }).detach();
        reading = std::make_unique<Buf>(toUs, nullptr);
        storing = std::make_unique<Buf>(nullptr, toPeer);
    }

    void serve(int32_t function, ccArchive& in, ccArchive& out)
    {
        uint8_t ok = 0;
        out.archive(ok);
        if (function == ccRPCCall::kFunctionTable) {
            ccRPCFunction change = cc_PelRootCalls::changeRefCountFunction();
            ccRPCFunction fetch = cc_PelRootCalls::fetchFunction<ccPackedRGB32Pel>();
            uint8_t version = 0;
            uint32_t two = 2, changeNumber = 0, fetchNumber = 14;
            out.archive(version).archive(two);
            change.archive(out);
            fetch.archive(out);
            out.archive(version).archive(two).archive(changeNumber).archive(fetchNumber);
        } else if (function == 0) {
            uint32_t destination = 0, root = 0, delta = 0;
            in.archive(destination).archive(root).archive(delta);
            int32_t count = 1;
            out.archive(count);
        } else if (function == ccRPCCall::kOpenChannel) {
            uint16_t endpoint = 0;
            uint32_t word = 0;
            in.archive(endpoint).archive(word).archive(word);
            uint16_t channel = uint16_t(endpoint | 0x1000);
            out.archive(channel);
        } else if (function == ccRPCCall::kCloseChannel) {
            uint16_t channel = 0;
            in.archive(channel);
        } else {
            uint32_t destination = 0, root = 0, word = 0, inOut = 0;
            ccPackedRGB32Pel value{};
            ccPelRect r;
            in.archive(destination).archive(root).archive(value.value);
            r.archive(in);
            in.archive(word).archive(inOut);
            std::vector<ccPackedRGB32Pel> pels(size_t(r.width()) * size_t(r.height()));
            for (int32_t y = 0; y < int32_t(r.height()); ++y)
                std::memcpy(&pels[size_t(y) * size_t(r.width())],
                            &frame_[size_t(r.y0() + y) * kWidth32 + size_t(r.x0())], size_t(r.width()) * 4);
            int32_t answer = -1;
            out.archive(answer);
            ccArchivePelVector(out, pels);
        }
    }

    std::vector<ccPackedRGB32Pel> frame_;
};

void BM_HandOver32FromAPeer(benchmark::State& state)
{
    ccStdPelbufStartup();
    Peer peer;
    for (auto _ : state) {
        state.PauseTiming(); // acquiring: the buffer's reference reaches the peer
        ccPelBuffer<ccPackedRGB32Pel> acquired(
            new ccPelRoot<ccPackedRGB32Pel>(peer.destination(), 1, kWidth32, kHeight32));
        state.ResumeTiming();
        ccPelBuffer<ccPackedRGB32Pel> local = ccPelBuffer<ccPackedRGB32Pel>::fromRemote(acquired, false);
        benchmark::DoNotOptimize(local.windowStart());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth32 * kHeight32 * 4);
}
BENCHMARK(BM_HandOver32FromAPeer)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
