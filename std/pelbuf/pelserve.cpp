#include "std/pelbuf/pelserve.h"

#include <memory>
#include <mutex>
#include <unordered_map>

#include "std/pelbuf/pelroot.h"
#include "std/pelbuf/pelrpc.h"

namespace {

// Never destroyed: roots still served at exit stay reachable.
struct Table {
    std::mutex lock;
    std::unordered_map<uint32_t, cc_PelRoot*> roots;
    uint32_t next = 1;
};

Table& table()
{
    static auto* t = new Table;
    return *t;
}

// Under the lock.
cc_PelRoot& listed(Table& t, uint32_t id)
{
    auto it = t.roots.find(id);
    if (it == t.roots.end())
        throw ccRPC::ObjectMismatch();
    return *it->second;
}

uint32_t enter(std::unique_ptr<cc_PelRoot> root)
{
    Table& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    // Ids are not reused while their root is served; 0 names none.
    while (t.next == 0 || t.roots.count(t.next))
        ++t.next;
    const uint32_t id = t.next++;
    t.roots.emplace(id, root.release());
    return id;
}

// The archives of a pair that has been opened.
ccArchive& reading(ccRPCArchivePair& pair)
{
    if (!pair.reading())
        throw ccBadPointer();
    return *pair.reading();
}

ccArchive& storing(ccRPCArchivePair& pair)
{
    if (!pair.storing())
        throw ccBadPointer();
    return *pair.storing();
}

template <class P>
void registerPair(ccRPCHandlerRegistry& r)
{
    (void)r.add(&cc_ServedPelRoots::serveCreate<P>, cc_PelRootCalls::createFunction<P>());
    (void)r.add(&cc_ServedPelRoots::serveFetch<P>, cc_PelRootCalls::fetchFunction<P>());
}

} // namespace

namespace cc_ServedPelRoots {

int32_t changeRefCount(uint32_t id, int32_t delta)
{
    Table& t = table();
    cc_PelRoot* gone = nullptr;
    int32_t count = 0;
    {
        std::lock_guard<std::mutex> hold(t.lock);
        cc_PelRoot& root = listed(t, id);
        count = root.refCount();
        // Checked whole first: a count that wrapped or went negative would
        // leave the root never disposed of, or disposed of while held.
        const int64_t after = int64_t{count} + delta;
        if (after < 0 || after > INT32_MAX)
            throw ccInvariantFailure();
        for (int32_t i = 0; i < delta; ++i)
            count = root.ccRepBase::addRef();
        for (int32_t i = 0; i > delta; --i)
            count = root.ccRepBase::release();
        if (delta != 0 && count == 0) {
            t.roots.erase(id);
            gone = &root;
        }
    }
    cc_PelRoot::dispose(gone);
    return count;
}

template <class P>
uint32_t create(int32_t width, int32_t height, const std::vector<P>& pels)
{
    // The sizes come from a peer: checked before anything is allocated.
    if (width < 0 || height < 0 || (!pels.empty() && pels.size() != uint64_t(width) * uint64_t(height)))
        throw ccPel::BadWindow();
    auto root = std::make_unique<ccPelRoot<P>>(width, height, 32);
    if (!pels.empty())
        root->putWindow(ccPelRect(0, 0, width, height), pels);
    return enter(std::move(root));
}

template <class P>
std::vector<P> fetch(uint32_t id, const ccPelRect& r, int32_t& inOut)
{
    std::vector<P> pels;
    {
        Table& t = table();
        std::lock_guard<std::mutex> hold(t.lock);
        auto* root = dynamic_cast<ccPelRoot<P>*>(&listed(t, id));
        if (!root)
            throw ccRPC::ObjectMismatch();
        if (r.x0() < 0 || r.y0() < 0 || r.x1() > root->width() || r.y1() > root->height())
            throw ccPel::BadWindow();
        root->getWindow(r, pels);
    }
    inOut = -1;
    return pels;
}

void answerChangeRefCount(ccArchive& in, ccArchive& out)
{
    uint32_t destination = 0, root = 0;
    int32_t delta = 0;
    in.archive(destination).archive(root).archive(delta);
    int32_t count = changeRefCount(root, delta);
    uint8_t ok = 0;
    out.archive(ok).archive(count);
}

template <class P>
void answerCreate(ccArchive& in, ccArchive& out)
{
    uint32_t destination = 0;
    int32_t width = 0, height = 0;
    std::vector<P> pels;
    in.archive(destination).archive(width).archive(height);
    // Read whole, so that a refused request leaves nothing unread.
    ccArchivePelVector(in, pels);
    uint32_t root = create(width, height, pels);
    uint8_t ok = 0;
    out.archive(ok).archive(root);
}

template <class P>
void answerFetch(ccArchive& in, ccArchive& out)
{
    uint32_t destination = 0, root = 0;
    P value{};
    ccPelRect r;
    int32_t word = 0, inOut = 0;
    in.archive(destination).archive(root);
    ccPelTraits<P>::archive(in, value);
    r.archive(in);
    in.archive(word).archive(inOut);
    std::vector<P> pels = fetch<P>(root, r, inOut);
    uint8_t ok = 0;
    out.archive(ok).archive(inOut);
    ccArchivePelVector(out, pels);
}

void serveChangeRefCount(ccRPCArchivePair& pair) { answerChangeRefCount(reading(pair), storing(pair)); }

template <class P>
void serveCreate(ccRPCArchivePair& pair)
{
    answerCreate<P>(reading(pair), storing(pair));
}

template <class P>
void serveFetch(ccRPCArchivePair& pair)
{
    answerFetch<P>(reading(pair), storing(pair));
}

void registerStubs()
{
    ccRPCHandlerRegistry& r = ccRPCHandlerRegistry::instance();
    (void)r.add(&serveChangeRefCount, cc_PelRootCalls::changeRefCountFunction());
    registerPair<unsigned short>(r);
    registerPair<uint32_t>(r);
    registerPair<short>(r);
    registerPair<int32_t>(r);
    registerPair<double>(r);
    registerPair<ccPackedRGB16Pel>(r);
    registerPair<ccPackedRGB32Pel>(r);
    registerPair<unsigned char>(r);
}

} // namespace cc_ServedPelRoots

#define cmServedInstances(P)                                                                   \
    template uint32_t cc_ServedPelRoots::create<P>(int32_t, int32_t, const std::vector<P>&);   \
    template std::vector<P> cc_ServedPelRoots::fetch<P>(uint32_t, const ccPelRect&, int32_t&); \
    template void cc_ServedPelRoots::answerCreate<P>(ccArchive&, ccArchive&);                  \
    template void cc_ServedPelRoots::answerFetch<P>(ccArchive&, ccArchive&);                   \
    template void cc_ServedPelRoots::serveCreate<P>(ccRPCArchivePair&);                        \
    template void cc_ServedPelRoots::serveFetch<P>(ccRPCArchivePair&);
cmServedInstances(unsigned char)
cmServedInstances(unsigned short)
cmServedInstances(short)
cmServedInstances(uint32_t)
cmServedInstances(int32_t)
cmServedInstances(double)
cmServedInstances(ccPackedRGB16Pel)
cmServedInstances(ccPackedRGB32Pel)
#undef cmServedInstances
