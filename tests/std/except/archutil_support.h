// Persistent test classes for the object-table tests (graph nodes that hold
// pointers to other nodes, and a class of another kind) and a builder of the
// object records, written out from their formats.
#pragma once
#include <cstdint>
#include <mutex>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/except/startup.h"
#include "tests/std/except/archive_support.h"

namespace archutil_support {

// A graph node: a value and pointers to other nodes (shared, cyclic or
// null). Every node is listed while it lives, so that a test can free what
// a failed load left and count what is alive. A node whose value is
// failValue raises ccArchive::BadFile right after its value, in both
// directions.
class Node : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestNode";
    static ccPersistent* cmCreate() { return new (std::nothrow) Node; }
    static constexpr int32_t failValue = -999;
    static constexpr uint32_t maxLinks = 16;

    explicit Node(int32_t v = 0, std::vector<Node*> l = {}) : value(v), links(std::move(l))
    {
        std::lock_guard<std::mutex> hold(lock);
        all.insert(this);
    }
    ~Node() override
    {
        std::lock_guard<std::mutex> hold(lock);
        all.erase(this);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const char* storedTypeName() const override { return kStoredName; }

    void archive(ccArchive& ar) override
    {
        archive_support::archiveLevel(this, ar, "ccTestNode", [&] {
            ar.archive(value);
            if (value == failValue)
                throw ccArchive::BadFile("node", 1);
            uint32_t count = static_cast<uint32_t>(links.size());
            ar.archive(count);
            if (ar.isLoading()) {
                if (count > maxLinks)
                    throw ccArchive::BadContent("node", 2);
                links.assign(count, nullptr);
            }
            for (Node*& link : links)
                archivePointer(ar, link, link);
        });
    }

    static inline std::set<Node*> all;
    static inline std::mutex lock;
    // Frees every node still alive (all is copied: each delete changes it).
    static void freeAll()
    {
        for (Node* n : std::set<Node*>(all))
            delete n;
    }

    int32_t value;
    std::vector<Node*> links;
};

// A persistent class that is not a node.
class Other : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestOther";
    static ccPersistent* cmCreate() { return new (std::nothrow) Other; }
    static inline int live = 0;

    Other() { ++live; }
    ~Other() override { --live; }
    const char* storedTypeName() const override { return kStoredName; }

    void archive(ccArchive& ar) override { archive_support::archiveLevel(this, ar, "ccTestOther", [&] { ar.archive(text); }); }

    std::wstring text;
};

inline void setUpTypes()
{
    ccStdExceptStartup();
    static const bool registered = (ccRegisterPersistent<Node>(), ccRegisterPersistent<Other>(), true);
    (void)registered;
}

inline void storeOne(ccArchive& ar, const ccPersistent* p)
{
    ccPersistent* unused = nullptr;
    archivePointer(ar, p, unused);
}

// Loads one pointer as a T; a poison shows a load that leaves it unwritten.
template <class T = ccPersistent>
T* loadOne(ccArchive& ar, T* poison = nullptr)
{
    archivePointer(ar, static_cast<const T*>(nullptr), poison);
    return poison;
}

// ---- the records, little-endian ----

using archive_support::Bytes;
using archive_support::cat;

inline Bytes le(uint64_t v, int width)
{
    Bytes b;
    for (int i = 0; i < width; ++i)
        b.push_back(uint8_t(v >> 8 * i));
    return b;
}

const Bytes kClassTag = {0x6F, 0x8B, 0x68, 0x44};
const Bytes kDirectoryTag = {0x61, 0x13, 0x4D, 0x6B};
// The type records of "ccTestNode" and of no type ("$nt"): the names
// through the name table, bit 7 on the first byte.
const Bytes kNodeType = {0x00, 0x00, 0x0A, 0x22, 0xB4, 0x34, 0x25, 0x36, 0x44,
                         0x45, 0x7D, 0x40, 0x35, 0x36, 0x22, 0x00, 0x00};
const Bytes kNoType = {0x00, 0x00, 0x03, 0x22, 0xD3, 0x3F, 0x45, 0x22, 0x00, 0x00};

// Tag, version, number, kind, positions A and B: 32-bit in version 0, 64-bit
// in version 1. A version-0 record under the wide tag has a 64-bit A only.
inline Bytes reference(uint32_t number, uint8_t kind, int64_t a = 0, int64_t b = 0, uint8_t version = 0,
                       uint8_t lastTagByte = 0x54)
{
    const Bytes head = cat({{0x4F, 0xE5, 0x70, lastTagByte, version}, le(number, 4), {kind}});
    if (version == 1)
        return cat({head, le(a, 8), le(b, 8)});
    return lastTagByte == 0x55 ? cat(head, le(a, 8)) : cat({head, le(a, 4), le(b, 4)});
}

// Each link relative to the block, split into 32-bit halves.
inline Bytes link(const Bytes& tag, uint32_t value, int64_t next = 0, int64_t previous = 0)
{
    return cat({tag, {0}, le(value, 4), le(next, 4), le(previous, 4), le(next >> 32, 4), le(previous >> 32, 4), {0}});
}

// Size and position 32-bit in form 0, 64-bit in form 1.
inline Bytes classBlock(uint32_t number, const Bytes& type, int64_t next = 0, int64_t previous = 0,
                        uint64_t size = 0, int64_t position = 0, uint8_t form = 0)
{
    const int w = form ? 8 : 4;
    return cat({link(kClassTag, number, next, previous), {form}, le(size, w), le(position, w), type});
}

inline Bytes nodeBlock(uint32_t number, int64_t next = 0, int64_t previous = 0, uint64_t size = 0,
                       int64_t position = 0)
{
    return classBlock(number, kNodeType, next, previous, size, position);
}

// A node's contents up to its links: two version bytes, value, count.
inline Bytes nodeHead(int32_t value, uint32_t count) { return cat({{0, 0}, le(uint32_t(value), 4), le(count, 4)}); }

} // namespace archutil_support
