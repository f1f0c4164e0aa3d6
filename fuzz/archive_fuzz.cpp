// libFuzzer target: loading from a memory archive whose bytes come from
// outside (the board driver module, a peer). Every failure must be an
// archive error, or the error of a class that refuses a value it loads;
// nothing may be read past the block; nothing may hang or leak; whatever
// loads must store and load back unchanged, object graphs with their
// sharing and cycles.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ios>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "fuzz/library_types.h"
#include "std/except/archive.h"
#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "tests/std/except/archutil_support.h"

namespace {

// The object-table tests' graph node: a value and up to 16 pointers to
// other nodes, each listed while it lives, so that what one input made is
// freed after it.
using archutil_support::Node;

// Every persistent type of the library, so that their loaders are fuzzed too
// (fuzz/seeds.cpp writes a stored object of each as a seed).
void registerTypes()
{
    registerLibraryTypes();
    archutil_support::setUpTypes();
}

// Stores v in a fresh archive of the given order and loads it back.
template <class T>
T roundTrip(T v, int32_t order)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    {
        ccArchive out(&sb, ccArchive::storing, order, false);
        out.archiveHeader();
        out.archive(v);
    }
    const std::string bytes = sb.str();
    ccMemoryArchive in(bytes.data(), static_cast<int32_t>(bytes.size()), false, false);
    T back{};
    in.archive(back);
    return back;
}

template <class T>
void loadAndCheck(ccArchive& ar)
{
    T v{};
    ar.archive(v);
    if (!(roundTrip(v, ar.byteOrder()) == v))
        std::abort();
}

void loadDouble(ccArchive& ar)
{
    double v = 0;
    ar.archive(v);
    double back = roundTrip(v, ar.byteOrder());
    if (std::memcmp(&v, &back, sizeof v) != 0)
        std::abort();
}

// A class may refuse a value it loads with an error of its own (a
// property's BadParams), or the memory a loaded size asks for (a pel root's);
// like an archive error, that ends the input. Every load of an object goes
// through here; what is checked after a load is not: an error there is a
// fault.
struct Refused {};

template <class F>
void refusable(F f)
{
    try {
        f();
    } catch (const ccArchive::Errors&) {
        throw;
    } catch (const ccException&) {
        throw Refused();
    } catch (const std::bad_alloc&) {
        throw Refused();
    }
}

// A persistent object named by a type record, loaded through the registry.
void loadObject(ccArchive& ar)
{
    std::string name;
    ccArchiveTypeName(ar, name);
    if (name.empty())
        return;
    std::unique_ptr<ccPersistent> object(ccFindFactory(name)());
    refusable([&] { ccArchiveObject(*object, ar, true); });
}

// Same values and the same pattern of sharing, cycles and nulls.
bool sameShape(const Node* a, const Node* b, std::map<const Node*, const Node*>& seen)
{
    if (!a || !b)
        return a == b;
    auto it = seen.find(a);
    if (it != seen.end())
        return it->second == b;
    seen[a] = b;
    if (a->value != b->value || a->links.size() != b->links.size())
        return false;
    for (size_t i = 0; i < a->links.size(); ++i)
        if (!sameShape(a->links[i], b->links[i], seen))
            return false;
    return true;
}

// The nodes reachable from root, up to limit (without recursion: graphs
// built over several loads can be deep).
size_t reachable(const Node* root, size_t limit)
{
    std::set<const Node*> seen;
    std::vector<const Node*> todo{root};
    while (!todo.empty() && seen.size() <= limit) {
        const Node* n = todo.back();
        todo.pop_back();
        if (!n || !seen.insert(n).second)
            continue;
        for (const Node* l : n->links)
            todo.push_back(l);
    }
    return seen.size();
}

// Stores object through a pointer in a fresh archive and loads it back.
ccPersistent* storeAndLoad(const ccPersistent* object, bool seekable, int32_t order)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    {
        ccArchive out(&sb, ccArchive::storing, order, seekable);
        out.archiveHeader();
        ccPersistent* unused = nullptr;
        archivePointer(out, object, unused);
        out.flush();
    }
    const std::string bytes = sb.str();
    ccMemoryArchive in(bytes.data(), static_cast<int32_t>(bytes.size()), seekable, false);
    ccPersistent* back = nullptr;
    archivePointer(in, nullptr, back);
    return back;
}

void checkNode(const Node* root, bool seekable, int32_t order)
{
    // Storing recurses as deep as the graph: kept within what a load accepts.
    if (!root || reachable(root, 900) > 900)
        return;
    Node* back = dynamic_cast<Node*>(storeAndLoad(root, seekable, order));
    std::map<const Node*, const Node*> seen;
    if (!back || !sameShape(root, back, seen))
        std::abort();
}

// A loaded error: stored and loaded back unchanged, then both raised.
void checkException(ccException* e, bool seekable, int32_t order)
{
    std::unique_ptr<ccPersistent> back(storeAndLoad(e, seekable, order));
    auto* again = dynamic_cast<ccException*>(back.get());
    if (!again || typeid(*again) != typeid(*e) || again->code() != e->code() ||
        again->message(true) != e->message(true))
        std::abort();
    back.release(); // raised below, which deletes it
    const std::type_info& type = typeid(*e);
    for (ccException* heap : {again, e}) {
        try {
            heap->raise();
        } catch (const ccException& raised) {
            if (typeid(raised) != type)
                std::abort();
        }
    }
}

// An object through a pointer, of any registered class.
void loadPointer(ccArchive& ar, unsigned char flags)
{
    ccPersistent* p = nullptr;
    refusable([&] { archivePointer(ar, nullptr, p); });
    if (!p)
        return;
    if (Node* n = dynamic_cast<Node*>(p)) {
        checkNode(n, flags & 1, flags & 2 ? ccArchive::littleEndian : ccArchive::bigEndian);
    } else if (ccException* e = dynamic_cast<ccException*>(p)) {
        checkException(e, flags & 1, flags & 2 ? ccArchive::littleEndian : ccArchive::bigEndian);
    } else {
        delete p; // nobody else holds it: a later reference finds it gone
    }
}

void loadNode(ccArchive& ar, unsigned char flags)
{
    Node* n = nullptr;
    refusable([&] { archivePointer(ar, static_cast<const Node*>(nullptr), n); });
    checkNode(n, flags & 1, flags & 2 ? ccArchive::littleEndian : ccArchive::bigEndian);
}

void loadEmbedded(ccArchive& ar, unsigned char flags)
{
    Node n;
    refusable([&] { archiveEmbedded(ar, n); });
    checkNode(&n, flags & 1, flags & 2 ? ccArchive::littleEndian : ccArchive::bigEndian);
}

void reposition(ccArchive& ar, unsigned char op)
{
    int32_t offset = 0;
    ar.archive(offset);
    switch (op % 6) {
    case 0: ar.seek(offset); break;
    case 1: ar.seekRelative(offset, std::ios_base::cur); break;
    case 2: ar.seekRelative(offset, std::ios_base::end); break;
    case 3: ar.skip4(); break;
    case 4: ar.setMode(ccArchive::loading); break;
    default:
        // A read-only block cannot be stored into; the archive must say so.
        ar.setMode(ccArchive::storing);
        ar.setMode(ccArchive::loading);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = (registerTypes(), true);
    (void)registered;
    if (size < 1 || size > 1 << 20)
        return 0;
    const bool seekable = data[0] & 1;
    // An exact-size heap copy, so that any read past the block is reported.
    const size_t n = size - 1;
    std::unique_ptr<char[]> block(new char[n ? n : 1]);
    std::memcpy(block.get(), data + 1, n);
    try {
        ccMemoryArchive ar(n ? block.get() : nullptr, static_cast<int32_t>(n), seekable, false);
        for (int step = 0; step < 64; ++step) {
            unsigned char op = 0;
            ar.archive(op);
            switch (op % 20) {
            case 0: loadAndCheck<unsigned char>(ar); break;
            case 1: loadAndCheck<bool>(ar); break;
            case 2: loadAndCheck<short>(ar); break;
            case 3: loadAndCheck<unsigned short>(ar); break;
            case 4: loadAndCheck<int32_t>(ar); break;
            case 5: loadAndCheck<uint32_t>(ar); break;
            case 6: loadAndCheck<long long>(ar); break;
            case 7: loadDouble(ar); break;
            case 8:
            case 9: loadAndCheck<std::string>(ar); break;
            case 10:
            case 11: loadAndCheck<std::wstring>(ar); break;
            case 12: {
                unsigned short length = 0;
                ar.archive(length);
                std::unique_ptr<char[]> raw(new char[length + 1]);
                ar.archiveBytes(raw.get(), length);
                break;
            }
            case 13:
            case 14: loadObject(ar); break;
            case 15: reposition(ar, op >> 5); break;
            case 16: loadPointer(ar, op >> 5); break;
            case 17: loadNode(ar, op >> 5); break;
            case 18: loadEmbedded(ar, op >> 5); break;
            default: ar.firstRecordPosition(); break;
            }
        }
    } catch (const ccArchive::Errors&) {
    } catch (const Refused&) {
    }
    // The archive is gone; what it made goes too.
    Node::freeAll();
    return 0;
}
