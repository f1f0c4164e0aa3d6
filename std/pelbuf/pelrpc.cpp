#include "std/pelbuf/pelrpc.h"

#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/pelserve.h"

#include <algorithm>

#include "std/except/persistent.h"

namespace {

void storeWord(ccArchive& ar, uint32_t word) { ar.archive(word); }

// The destination argument: to the peer its own objects are local.
void storeDestination(ccArchive& ar) { storeWord(ar, 0); }

// Whether the pels travel as one block: 8-bit pels always; wider ones when
// the archive does not swap, so that each pel's bytes in memory are already
// its wire form.
template <class P>
bool asBlock(const ccArchive& ar)
{
    return std::is_same_v<P, unsigned char> || !ar.swaps();
}

// The vector form read into rows: exactly their pels, which must all come.
template <class P>
void loadPelRows(ccArchive& ar, const ccPelRows<P>& rows)
{
    ccArchiveVersion(ar, 0, "", 0);
    uint32_t count = 0;
    ar.archive(count);
    const uint64_t expected = uint64_t(uint32_t(rows.width)) * uint32_t(rows.height);
    if (count > expected)
        throw ccArchive::BadContent("std/pelbuf/pelrpc", __LINE__);
    if (count < expected)
        throw ccPel::BadWindow();
    for (int32_t y = 0; y < rows.height; ++y) {
        P* row = rows.start + size_t(y) * rows.stride;
        if (asBlock<P>(ar))
            ar.archiveBytes(row, int32_t(size_t(rows.width) * sizeof(P)));
        else
            for (int32_t x = 0; x < rows.width; ++x)
                ccPelTraits<P>::archive(ar, row[x]);
    }
}

} // namespace

template <class P>
void ccArchivePelVector(ccArchive& ar, std::vector<P>& pels, uint32_t limit)
{
    ccArchiveVersion(ar, 0, "", 0);
    uint32_t count = uint32_t(pels.size());
    ar.archive(count);
    if (ar.isLoading()) {
        if (count > limit)
            throw ccArchive::BadContent("std/pelbuf/pelrpc", __LINE__);
        pels.clear();
        // Grown with what arrives, so that a count the bytes do not back
        // fails at the end of the stream instead of in the allocator.
        constexpr uint32_t kChunk = 1u << 20;
        for (uint32_t done = 0; done < count;) {
            const uint32_t n = std::min(kChunk, count - done);
            pels.resize(size_t(done) + n);
            if (asBlock<P>(ar))
                ar.archiveBytes(pels.data() + done, int32_t(n * sizeof(P)));
            else
                for (uint32_t i = 0; i < n; ++i)
                    ccPelTraits<P>::archive(ar, pels[done + i]);
            done += n;
        }
        return;
    }
    if (asBlock<P>(ar)) {
        // A block length is a signed 32-bit word.
        const size_t most = INT32_MAX / sizeof(P);
        for (size_t done = 0; done < pels.size();) {
            const size_t n = std::min(pels.size() - done, most);
            ar.archiveBytes(pels.data() + done, int32_t(n * sizeof(P)));
            done += n;
        }
    } else {
        for (P& p : pels)
            ccPelTraits<P>::archive(ar, p);
    }
}

namespace cc_PelRootCalls {

const ccRPCFunction& changeRefCountFunction()
{
    static const ccRPCFunction d("cf_RPCPelRootChangeRefCount", 0, "c_Int32",
                                 {"const ccRPCDestination&", "c_Int32", "c_Int32"});
    return d;
}

template <class P>
const ccRPCFunction& createFunction()
{
    static const ccRPCFunction d("cf_RPCPelRootCreate", 0, "c_Int32",
                                 {"const ccRPCDestination&", "c_Int32", "c_Int32", "const cmStd vector<P>&"},
                                 {{"P", ccPelRPCTraits<P>::canonicalName}});
    return d;
}

template <class P>
const ccRPCFunction& fetchFunction()
{
    static const ccRPCFunction d(
        "cf_RPCPelRootFetch", 0, "cmStd vector<P>",
        {"const ccRPCDestination&", "c_Int32", "P", "const ccPelRect&", "c_Int32", "c_Int32&"},
        {{"P", ccPelRPCTraits<P>::canonicalName}});
    return d;
}

int32_t changeRefCount(ccRPCDestination d, uint32_t root, int32_t delta)
{
    ccRPCCall call(d, ccPelRootEndpoint);
    ccArchive& out = call.sendFunctionId(changeRefCountFunction());
    storeDestination(out);
    storeWord(out, root);
    storeWord(out, uint32_t(delta));
    call.readStatus();
    int32_t count = 0;
    call.reading().archive(count);
    return count;
}

template <class P>
uint32_t create(ccRPCDestination d, int32_t width, int32_t height, const std::vector<P>& pels)
{
    ccRPCCall call(d, ccPelRootEndpoint);
    ccArchive& out = call.sendFunctionId(createFunction<P>());
    storeDestination(out);
    storeWord(out, uint32_t(width));
    storeWord(out, uint32_t(height));
    ccArchivePelVector(out, const_cast<std::vector<P>&>(pels)); // storing only reads
    call.readStatus();
    uint32_t root = 0;
    call.reading().archive(root);
    return root;
}

template <class P>
std::vector<P> fetch(ccRPCDestination d, uint32_t root, P value, const ccPelRect& r, int32_t word, int32_t& inOut,
                     bool* accepted, const std::function<ccPelRows<P>()>& rows)
{
    ccRPCCall call(d, ccPelRootEndpoint);
    ccArchive& out = call.sendFunctionId(fetchFunction<P>());
    storeDestination(out);
    storeWord(out, root);
    ccPelTraits<P>::archive(out, value);
    ccPelRect rect = r;
    rect.archive(out);
    storeWord(out, uint32_t(word));
    storeWord(out, uint32_t(inOut));
    call.readStatus();
    if (accepted)
        *accepted = true;
    int32_t answer = 0;
    call.reading().archive(answer);
    std::vector<P> pels;
    if (answer < 0 && rows) {
        loadPelRows(call.reading(), rows());
    } else {
        // Unsigned: a rectangle loaded from an archive may span 2^32 both ways.
        const uint64_t area = uint64_t(r.width()) * uint64_t(r.height());
        ccArchivePelVector(call.reading(), pels, uint32_t(std::min<uint64_t>(area, UINT32_MAX)));
    }
    inOut = answer;
    return pels;
}

} // namespace cc_PelRootCalls

int32_t cf_RPCPelRootChangeRefCount(const ccRPCDestination& destination, uint32_t root, int32_t delta)
{
    if (destination.isLocal())
        return cc_ServedPelRoots::changeRefCount(root, delta);
    return cc_PelRootCalls::changeRefCount(destination, root, delta);
}

template <class P>
uint32_t cf_RPCPelRootCreate(const ccRPCDestination& destination, int32_t width, int32_t height,
                             const std::vector<P>& pels)
{
    if (destination.isLocal())
        return cc_ServedPelRoots::create(width, height, pels);
    return cc_PelRootCalls::create(destination, width, height, pels);
}

template <class P>
std::vector<P> cf_RPCPelRootFetch(const ccRPCDestination& destination, uint32_t root, P value, const ccPelRect& rect,
                                  int32_t word, int32_t& inOut)
{
    if (destination.isLocal())
        return cc_ServedPelRoots::fetch<P>(root, rect, inOut);
    return cc_PelRootCalls::fetch(destination, root, value, rect, word, inOut);
}

#define cmPelRPCInstances(P)                                                                                       \
    template void ccArchivePelVector<P>(ccArchive&, std::vector<P>&, uint32_t);                                    \
    template const ccRPCFunction& cc_PelRootCalls::createFunction<P>();                                            \
    template const ccRPCFunction& cc_PelRootCalls::fetchFunction<P>();                                             \
    template uint32_t cc_PelRootCalls::create<P>(ccRPCDestination, int32_t, int32_t, const std::vector<P>&);       \
    template std::vector<P> cc_PelRootCalls::fetch<P>(ccRPCDestination, uint32_t, P, const ccPelRect&, int32_t,    \
                                                      int32_t&, bool*, const std::function<ccPelRows<P>()>&);      \
    template uint32_t cf_RPCPelRootCreate<P>(const ccRPCDestination&, int32_t, int32_t, const std::vector<P>&);    \
    template std::vector<P> cf_RPCPelRootFetch<P>(const ccRPCDestination&, uint32_t, P, const ccPelRect&, int32_t, \
                                                  int32_t&);
cmPelRPCInstances(unsigned char)
cmPelRPCInstances(unsigned short)
cmPelRPCInstances(short)
cmPelRPCInstances(uint32_t)
cmPelRPCInstances(int32_t)
cmPelRPCInstances(double)
cmPelRPCInstances(ccPackedRGB16Pel)
cmPelRPCInstances(ccPackedRGB32Pel)
#undef cmPelRPCInstances
