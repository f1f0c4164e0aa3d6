// A scripted peer that serves the fetches of 8-bit and packed 32-bit pels
// and the count changes, keeps its roots and their counts, and logs every
// count change and fetch it receives.
#pragma once
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "std/pelbuf/pelrpc.h"
#include "tests/support/rpc_peer.h"

namespace test_pel {

class PelPeer : public test_rpc::ScriptedPeer {
public:
    // One word per pel, whatever the type.
    struct Root { int32_t width, height; std::vector<uint32_t> pels; int32_t count = 0; };

    PelPeer()
    {
        offer(cc_PelRootCalls::changeRefCountFunction(), 0, [s = roots_](ccArchive& in, ccArchive& out) {
            uint32_t destination = 0, id = 0, delta = 0;
            in.archive(destination).archive(id).archive(delta);
            const std::string change = (int32_t(delta) > 0 ? "+" : "") + std::to_string(int32_t(delta)) + " " +
                                       std::to_string(id);
            uint8_t status = std::exchange(s->refuseChange, false) ? 3 : 0;
            uint32_t codeOrCount = status ? 5 : uint32_t(s->roots.at(id).count += int32_t(delta));
            s->log.push_back(status ? "refused " + change : change);
            out.archive(status).archive(codeOrCount);
        });
        serve<unsigned char>(16);
        serve<ccPackedRGB32Pel>(14);
    }

    // Makes a root of the peer; pel (x, y) holds y * 16 + x.
    uint32_t addNumbered(int32_t width, int32_t height)
    {
        std::vector<uint32_t> pels(size_t(width * height));
        for (size_t i = 0; i < pels.size(); ++i)
            pels[i] = uint32_t(i / size_t(width) * 16 + i % size_t(width));
        auto hold = lock();
        roots_->roots[++roots_->next] = Root{width, height, std::move(pels)};
        return roots_->next;
    }
    Root root(uint32_t id) const { auto hold = lock(); return roots_->roots.at(id); }
    // "+1 <id>", "-1 <id>", "fetch <id>", "hand-over <id>" since the last
    // look.
    std::vector<std::string> changes() { auto hold = lock(); return std::exchange(roots_->log, {}); }
    // The next count change is answered with an error.
    void refuseNextChange() { auto hold = lock(); roots_->refuseChange = true; }
    // The next fetch sends this many pels more (or fewer) than it was asked for.
    void changeNextFetchBy(int pels) { auto hold = lock(); roots_->fetchChange = pels; }

private:
    // Guarded by the scripted peer's lock, which its handlers run under.
    struct State {
        std::map<uint32_t, Root> roots;
        uint32_t next = 100;
        bool refuseChange = false;
        int fetchChange = 0;
        std::vector<std::string> log;
    };

    // Pels and words share their low bytes (little-endian).
    template <class P>
    void serve(int32_t fetch)
    {
        offer(cc_PelRootCalls::fetchFunction<P>(), fetch, [s = roots_](ccArchive& in, ccArchive& out) {
            uint32_t destination = 0, id = 0, flag = 0, asked = 0;
            P value{};
            ccPelRect r;
            in.archive(destination).archive(id);
            ccPelTraits<P>::archive(in, value);
            r.archive(in);
            in.archive(flag).archive(asked);
            Root& root = s->roots.at(id);
            s->log.push_back((flag ? "hand-over " : "fetch ") + std::to_string(id));
            root.count -= flag ? 1 : 0; // the hand-over takes the reference with the pels
            std::vector<P> pels;
            for (int32_t y = r.y0(); y < r.y1(); ++y)
                for (int32_t x = r.x0(); x < r.x1(); ++x)
                    std::memcpy(&pels.emplace_back(), &root.pels[size_t(y * root.width + x)], sizeof(P));
            pels.resize(size_t(std::max<int64_t>(0, int64_t(pels.size()) + std::exchange(s->fetchChange, 0))));
            uint8_t ok = 0;
            int32_t inOut = -1; // the pels are in the reply
            out.archive(ok).archive(inOut);
            ccArchivePelVector(out, pels);
        });
    }

    std::shared_ptr<State> roots_ = std::make_shared<State>();
};

} // namespace test_pel
