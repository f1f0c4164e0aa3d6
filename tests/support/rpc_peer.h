// A scripted peer for remote calls: a test communicator whose every
// connection is served by a thread of its own. The peer answers the built-in
// numbers itself (its function table, channel numbers, closes) and hands
// every other request to the handler the test gave for its number; it logs
// each request it receives.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "std/rpc/rpc.h"
#include "tests/support/fake_comm.h"

namespace test_rpc {

// Reads the request's arguments from in and writes the whole reply, status
// first, to out.
typedef std::function<void(ccArchive& in, ccArchive& out)> Handler;

class ScriptedPeer {
public:
    ScriptedPeer() { comm.onOpen = [s = s_](test_comm::Peer& p) { serve(s, p); }; }

    test_comm::Communicator comm;
    ccRPCDestination destination() const { return comm.destination(); }

    // Lists d under number in the table the peer sends, and serves it.
    void offer(const ccRPCFunction& d, int32_t number, Handler handler)
    {
        auto hold = lock();
        s_->table.emplace_back(d, uint32_t(number));
        s_->handlers[number] = std::move(handler);
    }
    // Set before the first call (the peer's threads start after): the whole
    // reply to the table request, and what is added to the requested
    // endpoint in the channel numbers the peer gives.
    void answerTableWith(Handler reply) { s_->tableReply = std::move(reply); }
    void setChannelBase(uint16_t base) { s_->channelBase = base; }

    // The requests since the last look, one line each, prefixed by the
    // connection number: "0: -3", "0: -1 <endpoint> <one> <priority>",
    // "0: -2 <channel>", or the function number.
    std::vector<std::string> log()
    {
        auto hold = lock();
        return std::exchange(s_->log, {});
    }

protected:
    // Held while a request is answered: handlers need no lock of their own.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(s_->lock); }

private:
    struct State {
        std::mutex lock;
        std::vector<std::pair<ccRPCFunction, uint32_t>> table;
        std::map<int32_t, Handler> handlers;
        Handler tableReply;
        uint16_t channelBase = 0x1000, connections = 0;
        std::vector<std::string> log;
    };

    // The storing side's header is sent at once, so that this side's reading
    // archive finds it; the thread, which keeps the state alive, serves until
    // this side closes the connection (or sends what the script does not know).
    static void serve(std::shared_ptr<State> s, test_comm::Peer& p)
    {
        auto out = std::make_shared<ccTransferArchive>(std::move(p.storing), ccArchive::storing, nullptr);
        out->sync();
        const uint16_t c = [&] { std::lock_guard<std::mutex> hold(s->lock); return s->connections++; }();
        std::thread([s, out, reading = std::move(p.reading), c]() mutable {
            try {
                ccTransferArchive in(std::move(reading), ccArchive::loading, nullptr);
                for (uint32_t word = 0;; out->sync()) {
                    in.archive(word);
                    std::lock_guard<std::mutex> hold(s->lock);
                    answer(*s, std::to_string(c) + ": " + std::to_string(int32_t(word)), int32_t(word), in, *out);
                }
            } catch (...) {
            }
        }).detach();
    }

    static void answer(State& s, std::string line, int32_t function, ccArchive& in, ccArchive& out)
    {
        uint8_t ok = 0, version = 0;
        uint16_t number = 0;
        uint32_t one = 0, priority = 0, count = uint32_t(s.table.size());
        if (function == ccRPCCall::kFunctionTable && !s.tableReply) {
            out.archive(ok).archive(version).archive(count);
            for (auto& e : s.table)
                e.first.archive(out);
            out.archive(version).archive(count);
            for (auto& e : s.table)
                out.archive(e.second);
        } else if (function == ccRPCCall::kOpenChannel) {
            in.archive(number).archive(one).archive(priority);
            line += " " + std::to_string(number) + " " + std::to_string(one) + " " + std::to_string(priority);
            number = uint16_t(number + s.channelBase);
            out.archive(ok).archive(number);
        } else if (function == ccRPCCall::kCloseChannel) {
            in.archive(number);
            line += " " + std::to_string(number);
            out.archive(ok);
        } else {
            (function == ccRPCCall::kFunctionTable ? s.tableReply : s.handlers.at(function))(in, out);
        }
        s.log.push_back(line);
    }

    std::shared_ptr<State> s_ = std::make_shared<State>();
};

} // namespace test_rpc
