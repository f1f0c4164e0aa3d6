// The remote pel-root functions: roots are created, fetched from and
// counted in a peer, through calls to endpoint 3 of its communicator, or in
// this process, which serves its own to peers. A root is named by a 32-bit
// id of the process that holds it.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "defs/ch_core/rect.h"
#include "std/pelbuf/peltypes.h"
#include "std/rpc/rpc.h"

// The endpoint that serves the pel-root functions.
constexpr uint16_t ccPelRootEndpoint = 3;

// The pel types that travel, with the canonical name that their
// descriptors carry.
template <class P>
struct ccPelRPCTraits;
#define cmPelRPCName(P, Name)                               \
    template <>                                             \
    struct ccPelRPCTraits<P> {                              \
        static constexpr const char* canonicalName = Name; \
    }
cmPelRPCName(unsigned char, "unsigned char");
cmPelRPCName(unsigned short, "unsigned short");
cmPelRPCName(short, "short");
cmPelRPCName(uint32_t, "unsigned long");
cmPelRPCName(int32_t, "long");
cmPelRPCName(double, "double");
cmPelRPCName(ccPackedRGB16Pel, "ccPackedRGB16Pel");
cmPelRPCName(ccPackedRGB32Pel, "ccPackedRGB32Pel");
#undef cmPelRPCName

// The pel vector form: version byte 0, count, then the pels (8-bit pels as
// one raw block). Loading a count above limit raises ccArchive::BadContent
// before anything is allocated; a newer version ccArchive::UnknownVersion.
template <class P>
void ccArchivePelVector(ccArchive& ar, std::vector<P>& pels, uint32_t limit = UINT32_MAX);

// Rows that pels are read into: width x height pels, each row stride pels
// after the previous one.
template <class P>
struct ccPelRows {
    P* start;
    size_t stride;
    int32_t width;
    int32_t height;
};

namespace cc_PelRootCalls {

const ccRPCFunction& changeRefCountFunction();
template <class P>
const ccRPCFunction& createFunction();
template <class P>
const ccRPCFunction& fetchFunction();

// Each calls the peer behind d (not 0) and raises what the call raises.

// Changes the peer's count of its root by delta; the count after it.
int32_t changeRefCount(ccRPCDestination d, uint32_t root, int32_t delta);
// A new root of width x height pels at the peer, filled from pels when they
// are not empty; the peer's id of it.
template <class P>
uint32_t create(ccRPCDestination d, int32_t width, int32_t height, const std::vector<P>& pels);
// The pels of r in the peer's root, row after row; a reply with more pels
// than r holds is ccArchive::BadContent. inOut goes out and comes back.
// *accepted, when given, is set once the reply's status is read as success.
// When the peer answers a negative in/out word and rows is given, the pels
// go straight into the rows it hands out (r's size) and the vector returned
// is empty; a reply with fewer pels than r holds is then ccPel::BadWindow.
template <class P>
std::vector<P> fetch(ccRPCDestination d, uint32_t root, P value, const ccPelRect& r, int32_t word, int32_t& inOut,
                     bool* accepted = nullptr, const std::function<ccPelRows<P>()>& rows = {});

} // namespace cc_PelRootCalls

// The remote pel-root functions. Destination 0 acts on a root that this
// process serves (std/pelbuf/pelserve.h, which gives the errors); any other
// calls the peer behind it (cc_PelRootCalls).

// The root's count after adding delta; at 0 the root is disposed of.
int32_t cf_RPCPelRootChangeRefCount(const ccRPCDestination& destination, uint32_t root, int32_t delta);
// A new root of width x height pels, filled from pels when they are not
// empty; its id.
template <class P>
uint32_t cf_RPCPelRootCreate(const ccRPCDestination& destination, int32_t width, int32_t height,
                             const std::vector<P>& pels);
// The pels of rect in the root, row after row. Here, value and word are not
// used and inOut becomes -1; a peer answers inOut as it chooses.
template <class P>
std::vector<P> cf_RPCPelRootFetch(const ccRPCDestination& destination, uint32_t root, P value, const ccPelRect& rect,
                                  int32_t word, int32_t& inOut);
