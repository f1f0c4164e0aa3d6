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
#include <vector>

#include "std/rpc/rpc.h"
#include "tests/support/fake_comm.h"

namespace test_rpc {

// Reads the request's arguments from in and writes the whole reply, status
// first, to out.
typedef std::function<void(ccArchive& in, ccArchive& out)> Handler;

class ScriptedPeer {
public:
    ScriptedPeer() : state_(std::make_shared<State>())
    {
        comm.onOpen = [state = state_](test_comm::Peer& p) { serve(state, p); };
    }

    test_comm::Communicator comm;
    ccRPCDestination destination() const { return comm.destination(); }

    // Lists d under number in the table the peer sends, and serves it.
    void offer(const ccRPCFunction& d, int32_t number, Handler handler)
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->table.push_back(d);
        state_->numbers.push_back(uint32_t(number));
        state_->handlers[number] = std::move(handler);
    }
    // Replaces the peer's answer to the table request (after nothing: the
    // reply to the request is the bytes the function writes).
    void answerTableWith(Handler reply)
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->tableReply = std::move(reply);
    }
    // Added to the requested endpoint in the channel numbers the peer gives.
    void setChannelBase(uint16_t base)
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->channelBase = base;
    }
    // One line per request: "-3", "-1 <endpoint> <one> <priority>",
    // "-2 <channel>", or the function number; prefixed by the connection
    // number ("0: -3").
    std::vector<std::string> log() const
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        return state_->log;
    }
    void clearLog()
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->log.clear();
    }

private:
    struct State {
        std::mutex lock;
        std::vector<ccRPCFunction> table;
        std::vector<uint32_t> numbers;
        std::map<int32_t, Handler> handlers;
        Handler tableReply;
        uint16_t channelBase = 0x1000;
        uint16_t nextConnection = 0;
        std::vector<std::string> log;
    };

    static void note(State& s, uint16_t connection, const std::string& line)
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.log.push_back(std::to_string(connection) + ": " + line);
    }

    // The storing side's header is sent at once, so that this side's reading
    // archive finds it; the thread reads this side's header with the first
    // request. It lives until this side closes the connection, and keeps the
    // state alive for as long.
    static void serve(std::shared_ptr<State> state, test_comm::Peer& p)
    {
        auto out = std::make_shared<ccTransferArchive>(std::move(p.storing), ccArchive::storing, nullptr);
        out->sync();
        uint16_t connection;
        {
            std::lock_guard<std::mutex> hold(state->lock);
            connection = state->nextConnection++;
        }
        std::thread([state, out, reading = std::move(p.reading), connection]() mutable {
            try {
                ccTransferArchive in(std::move(reading), ccArchive::loading, nullptr);
                for (;;) {
                    uint32_t word = 0;
                    in.archive(word);
                    answer(*state, connection, int32_t(word), in, *out);
                    out->sync();
                }
            } catch (...) {
                // This side closed the connection (or sent something the
                // script does not know): the peer stops serving it.
            }
        }).detach();
    }

    static void answer(State& s, uint16_t connection, int32_t function, ccArchive& in, ccArchive& out)
    {
        uint8_t ok = 0;
        if (function == ccRPCCall::kFunctionTable) {
            note(s, connection, "-3");
            Handler reply;
            std::vector<ccRPCFunction> table;
            std::vector<uint32_t> numbers;
            {
                std::lock_guard<std::mutex> hold(s.lock);
                reply = s.tableReply;
                table = s.table;
                numbers = s.numbers;
            }
            if (reply)
                return reply(in, out);
            uint8_t version = 0;
            uint32_t count = uint32_t(table.size());
            out.archive(ok).archive(version).archive(count);
            for (auto& d : table)
                d.archive(out);
            out.archive(version).archive(count);
            for (auto& n : numbers)
                out.archive(n);
        } else if (function == ccRPCCall::kOpenChannel) {
            uint16_t endpoint = 0;
            uint32_t one = 0, priority = 0;
            in.archive(endpoint).archive(one).archive(priority);
            note(s, connection,
                 "-1 " + std::to_string(endpoint) + " " + std::to_string(one) + " " + std::to_string(priority));
            uint16_t number;
            {
                std::lock_guard<std::mutex> hold(s.lock);
                number = uint16_t(endpoint + s.channelBase);
            }
            out.archive(ok).archive(number);
        } else if (function == ccRPCCall::kCloseChannel) {
            uint16_t number = 0;
            in.archive(number);
            note(s, connection, "-2 " + std::to_string(number));
            out.archive(ok);
        } else {
            note(s, connection, std::to_string(function));
            Handler handler;
            {
                std::lock_guard<std::mutex> hold(s.lock);
                auto it = s.handlers.find(function);
                if (it != s.handlers.end())
                    handler = it->second;
            }
            if (!handler)
                throw std::runtime_error("no handler");
            handler(in, out);
        }
    }

    std::shared_ptr<State> state_;
};

} // namespace test_rpc
