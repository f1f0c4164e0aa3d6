// The roots this process serves to its peers, and the serving stubs of the
// remote pel-root functions (their entry points are in pelrpc.h).
//
// A peer names a served root by a 32-bit id from a process-wide table; 0 is
// never an id. A root enters the table when it is created for a peer, with
// count 0, and leaves it when a count change takes its count to 0 and
// disposes of it. A root that is created and never counted stays until the
// process ends: its creator is expected to take a reference. An id that
// names no root (never issued, or its root gone), or a root of another pel
// type than the call's, raises ccRPC::ObjectMismatch, the serving side's
// error for a bad object.
//
// One lock guards the table and is held while a root's count changes and
// while its pels are copied out, so a root cannot go while it is in use. A
// root is disposed of after the lock is let go.
#pragma once
#include <cstdint>
#include <vector>

#include "defs/ch_core/rect.h"
#include "std/rpc/transfer.h"

namespace cc_ServedPelRoots {

// The count of the root after adding delta, one atomic step at a time; at 0
// the root is disposed of and its id leaves the table. ccInvariantFailure,
// the count unchanged, for a change that would take it below 0 or past the
// largest 32-bit count.
int32_t changeRefCount(uint32_t root, int32_t delta);

// A new root of width x height pels, rows aligned to 32 bytes, count 0,
// filled from pels when they are not empty; its id. ccPel::BadWindow, and
// nothing made, for a negative size or pels neither empty nor exactly
// width x height; a root too large to allocate fails as its allocation does.
template <class P>
uint32_t create(int32_t width, int32_t height, const std::vector<P>& pels);

// The pels of r in the root, row after row without padding; inOut becomes
// -1. ccPel::BadWindow for an r that does not lie inside the root (also an
// empty one).
template <class P>
std::vector<P> fetch(uint32_t root, const ccPelRect& r, int32_t& inOut);

// The work of the stubs: each reads its request's arguments from in, acts
// here whatever destination arrives, and writes status 0, the in/out word
// (fetch) and the result to out. The request is read whole first, and an
// error of the local work is raised before anything is written, for the
// dispatcher to reply with.
void answerChangeRefCount(ccArchive& in, ccArchive& out);
template <class P>
void answerCreate(ccArchive& in, ccArchive& out);
template <class P>
void answerFetch(ccArchive& in, ccArchive& out);

// The stubs, over the archives of the pair they are given.
void serveChangeRefCount(ccRPCArchivePair& pair);
template <class P>
void serveCreate(ccRPCArchivePair& pair);
template <class P>
void serveFetch(ccRPCArchivePair& pair);

// Adds the stubs to the handler registry, which numbers them: 0 the count
// change, then create and fetch for unsigned short (1, 2), unsigned long,
// short, long, double, ccPackedRGB16Pel, ccPackedRGB32Pel and unsigned char
// (15, 16). Run by ccStdPelbufStartup.
void registerStubs();

} // namespace cc_ServedPelRoots
