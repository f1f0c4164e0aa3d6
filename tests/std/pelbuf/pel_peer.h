// A scripted peer that serves the pel-root functions for 8-bit and packed
// 32-bit pels, keeps its roots and their counts, and logs every count change
// and hand-over it receives.
#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "std/pelbuf/pelrpc.h"
#include "tests/support/rpc_peer.h"

namespace test_pel {

class PelPeer : public test_rpc::ScriptedPeer {
public:
    struct Root {
        int32_t width;
        int32_t height;
        std::vector<uint32_t> pels; // one word per pel, whatever the type
        int32_t count = 0;
    };

    PelPeer() : roots_(std::make_shared<State>())
    {
        auto s = roots_;
        offer(cc_PelRootCalls::changeRefCountFunction(), 0, [s](ccArchive& in, ccArchive& out) {
            uint32_t destination = 0, id = 0, delta = 0;
            in.archive(destination).archive(id).archive(delta);
            std::lock_guard<std::mutex> hold(s->lock);
            const std::string change = (int32_t(delta) > 0 ? "+" : "") + std::to_string(int32_t(delta)) + " " +
                                       std::to_string(id);
            if (s->refuseChange) {
                s->refuseChange = false;
                s->log.push_back("refused " + change);
                uint8_t status = 3;
                uint32_t code = 5;
                out.archive(status).archive(code);
                return;
            }
            s->log.push_back(change);
            int32_t count = s->roots.at(id).count += int32_t(delta);
            ok(out).archive(count);
        });
        serve<unsigned char>(15, 16);
        serve<ccPackedRGB32Pel>(13, 14);
    }

    // Makes a root here as create would, without a call.
    uint32_t add(int32_t width, int32_t height, std::vector<uint32_t> pels)
    {
        std::lock_guard<std::mutex> hold(roots_->lock);
        roots_->roots[++roots_->next] = Root{width, height, std::move(pels)};
        return roots_->next;
    }
    Root root(uint32_t id) const
    {
        std::lock_guard<std::mutex> hold(roots_->lock);
        return roots_->roots.at(id);
    }
    // "+1 <id>", "-1 <id>", "create <id>", "fetch <id>", "hand-over <id>".
    std::vector<std::string> changes() const
    {
        std::lock_guard<std::mutex> hold(roots_->lock);
        return roots_->log;
    }
    void clearChanges()
    {
        std::lock_guard<std::mutex> hold(roots_->lock);
        roots_->log.clear();
    }
    // The next count change is answered with an error.
    void refuseNextChange()
    {
        std::lock_guard<std::mutex> hold(roots_->lock);
        roots_->refuseChange = true;
    }
    // The next fetch sends one pel fewer than it was asked for.
    void shortenNextFetch()
    {
        std::lock_guard<std::mutex> hold(roots_->lock);
        roots_->shortFetch = true;
    }
    // Fetches answer this in/out word (negative: the pels are in the reply).
    void setFetchAnswer(int32_t answer)
    {
        std::lock_guard<std::mutex> hold(roots_->lock);
        roots_->fetchAnswer = answer;
    }

private:
    struct State {
        std::mutex lock;
        std::map<uint32_t, Root> roots;
        uint32_t next = 100;
        int32_t fetchAnswer = -1;
        bool refuseChange = false;
        bool shortFetch = false;
        std::vector<std::string> log;
    };

    static ccArchive& ok(ccArchive& out)
    {
        uint8_t status = 0;
        return out.archive(status);
    }

    template <class P>
    static uint32_t word(P p)
    {
        if constexpr (std::is_same<P, unsigned char>::value)
            return p;
        else
            return p.value;
    }
    template <class P>
    static P pel(uint32_t w)
    {
        if constexpr (std::is_same<P, unsigned char>::value)
            return static_cast<unsigned char>(w);
        else
            return P{w};
    }

    template <class P>
    void serve(int32_t create, int32_t fetch)
    {
        auto s = roots_;
        offer(cc_PelRootCalls::createFunction<P>(), create, [s](ccArchive& in, ccArchive& out) {
            uint32_t destination = 0, w = 0, h = 0;
            std::vector<P> pels;
            in.archive(destination).archive(w).archive(h);
            ccArchivePelVector(in, pels);
            std::lock_guard<std::mutex> hold(s->lock);
            Root r{int32_t(w), int32_t(h), std::vector<uint32_t>(size_t(w) * h)};
            for (size_t i = 0; i < pels.size() && i < r.pels.size(); ++i)
                r.pels[i] = word(pels[i]);
            const uint32_t id = ++s->next;
            s->roots[id] = r;
            s->log.push_back("create " + std::to_string(id));
            ok(out).archive(const_cast<uint32_t&>(id));
        });
        offer(cc_PelRootCalls::fetchFunction<P>(), fetch, [s](ccArchive& in, ccArchive& out) {
            uint32_t destination = 0, id = 0, flag = 0, inOut = 0;
            P value{};
            ccPelRect r;
            in.archive(destination).archive(id);
            ccPelTraits<P>::archive(in, value);
            r.archive(in);
            in.archive(flag).archive(inOut);
            std::lock_guard<std::mutex> hold(s->lock);
            Root& root = s->roots.at(id);
            s->log.push_back((flag ? "hand-over " : "fetch ") + std::to_string(id));
            if (flag)
                --root.count; // the hand-over takes the reference with the pels
            std::vector<P> pels;
            for (int32_t y = r.y0(); y < r.y1(); ++y)
                for (int32_t x = r.x0(); x < r.x1(); ++x)
                    pels.push_back(pel<P>(root.pels[size_t(y) * size_t(root.width) + size_t(x)]));
            if (s->shortFetch && !pels.empty()) {
                s->shortFetch = false;
                pels.pop_back();
            }
            int32_t answer = s->fetchAnswer;
            ok(out).archive(answer);
            ccArchivePelVector(out, pels);
        });
    }

    std::shared_ptr<State> roots_;
};

} // namespace test_pel
