#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/std/except/archutil_support.h"
#include "tests/support/child_check.h"

namespace {

using namespace archive_support;
using namespace archutil_support;

// R (1) with two links to the same A (2), which links back to R.
struct Shared {
    Node a{2};
    Node r{1, {&a, &a}};
    Shared() { a.links = {&r}; }
};

void expectShared(Node* r)
{
    ASSERT_TRUE(r && r->value == 1 && r->links.size() == 2 && r->links[0] && r->links[0] == r->links[1]);
    EXPECT_EQ(r->links[0]->value, 2);
    EXPECT_EQ(r->links[0]->links, std::vector<Node*>{r});
}

// Shared without a directory: kind 1 with the class block and the contents
// the first time, kind 0 with the same number later.
const Bytes kPlain = cat({{0x02, 0x01}, reference(1, 1), nodeBlock(1), nodeHead(1, 2), reference(2, 1), nodeBlock(2),
                          nodeHead(2, 1), reference(1, 0), reference(2, 0)});

// Shared in a seekable archive, every position worked out by hand: the
// preamble at 2, 28, 73 and 91; R's record at 95 and its class block at 113
// (contents from 165); A's record at 175, its block at 193 (contents from
// 245, its link's record at 255); R's second link's record at 273.
const Bytes kSeekable = cat({{0x03, 0x01}, link(kDirectoryTag, 0), classBlock(0, kNoType, 113 - 28),
                             reference(0, 0, 95 - 73), le(0, 4), // the marker, cleared
                             reference(1, 1, 175 - 95, 73 - 95),
                             nodeBlock(1, 193 - 113, 28 - 113, 291 - 113, 175 - 113), nodeHead(1, 2),
                             reference(2, 1, 255 - 175, 95 - 175), nodeBlock(2, 0, 113 - 193, 273 - 193, 255 - 193),
                             nodeHead(2, 1), reference(1, 0, 273 - 255, 175 - 255), reference(2, 0, 0, 255 - 273)});

// A storing archive over a string buffer, header written.
struct Storing {
    explicit Storing(bool seekable = false) : ar(&sb, ccArchive::storing, kLittle, seekable) { ar.archiveHeader(); }
    // Stores p; returns where its record starts.
    size_t store(const ccPersistent* p)
    {
        const size_t at = sb.str().size();
        storeOne(ar, p);
        return at;
    }
    Bytes slice(size_t from, size_t n) const { return bytesOf(sb.str().substr(from, n)); }
    std::stringbuf sb{std::ios_base::in | std::ios_base::out | std::ios_base::binary};
    ccArchive ar;
};

Bytes storePointer(const ccPersistent* p, bool seekable = false)
{
    return storeAll(kLittle, seekable, [p](ccArchive& ar) { storeOne(ar, p); ar.flush(); });
}

Node* loadNode(const Bytes& all, bool seekable = false)
{
    Loader l(all, seekable);
    return loadOne<Node>(l.ar());
}

class ObjectTable : public ::testing::Test {
protected:
    void SetUp() override { setUpTypes(); }
    void TearDown() override { Node::freeAll(); }
};

// ---------------------------------------------------------------- golden streams

TEST_F(ObjectTable, GoldenStreams)
{
    EXPECT_EQ(storePointer(nullptr), cat({{0x02, 0x01}, reference(0, 0)}));
    EXPECT_EQ(loadNode(cat({{0x02, 0x01}, reference(0, 0)})), nullptr);
    Shared g;
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable);
        const Bytes& golden = seekable ? kSeekable : kPlain;
        EXPECT_EQ(storePointer(&g.r, seekable), golden);
        expectShared(loadNode(golden, seekable));
    }
    Loader l(kSeekable, true);
    EXPECT_EQ(l.ar().firstRecordPosition(), 95);
    // Without a record after the preamble the marker stays: no first record.
    Loader e(storeAll(kLittle, true, [](ccArchive& ar) { ar.flush(); }), true);
    EXPECT_EQ(e.ar().firstRecordPosition(), -1);
}

// ---------------------------------------------------------------- crafted streams

struct Mutation {
    const char* name;
    bool seekable; // of kSeekable, else of kPlain
    std::vector<std::pair<size_t, Bytes>> writes; // at offsets, extending the stream
    uint32_t error; // 0: loads as Shared
    size_t survivors = 0; // complete objects handed out before the failure
};

const Bytes kSearchFor7 = cat({le(7, 4), {0}}); // R's seekable record: a reference to 7
const uint32_t kBadContent = ccArchive::BadContent::kCode;

const Mutation kMutations[] = {
    {"DirectoryTag", true, {{5, {0x6C}}}, kBadContent},
    {"ReferenceTag", false, {{5, {0x56}}}, kBadContent},
    {"ReferenceVersion", false, {{6, {2}}}, ccArchive::UnknownVersion::kCode},
    {"ReferenceKind", false, {{11, {3}}}, kBadContent},
    {"UnknownNumber", false, {{7, cat({le(7, 4), {0}})}}, ccArchive::NotFound::kCode},
    // A's first record refers ahead: found through the class-block chain, and
    // its contents are stepped over where they stand.
    {"ReferenceAheadThroughTheChain", true, {{184, {2}}}, 0},
    // A's next link, in halves at 202 and 210, as the search for 7 follows it.
    {"ChainTurnsBack", true, {{100, kSearchFor7}, {202, le(113 - 193, 4)}, {210, le(-1, 4)}}, kBadContent},
    {"ChainLeadsPastTheEnd", true, {{100, kSearchFor7}, {202, le(100000, 4)}}, ccArchive::BadBuffer::kCode},
    {"ChainPast64Bits", true, {{100, kSearchFor7}, {202, le(-1, 4)}, {210, {0xFF, 0xFF, 0xFF, 0x7F}}}, kBadContent},
    {"SizeEndsInsideTheClassBlock", true, {{193 + 27, {20}}}, kBadContent},
    // A's last record says kind 1 in a stream that cannot step over it.
    {"KnownObjectWithContentsButNoSize", false, {{189, cat({{1}, Bytes(8, 0), nodeBlock(2)})}}, kBadContent, 1},
    {"ClassBlockOfNoType", false, {{55, kNoType}}, kBadContent},
    {"ContentsRefuseToLoad", false, {{74, le(uint32_t(Node::failValue), 4)}}, ccArchive::BadFile::kCode},
};

class CraftedStream : public ObjectTable, public ::testing::WithParamInterface<Mutation> {};

TEST_P(CraftedStream, LoadsOrFailsLeavingNothing)
{
    const Mutation& m = GetParam();
    Bytes all = m.seekable ? kSeekable : kPlain;
    for (const auto& w : m.writes) {
        all.resize(std::max(all.size(), w.first + w.second.size()));
        std::copy(w.second.begin(), w.second.end(), all.begin() + long(w.first));
    }
    if (m.error == 0)
        return expectShared(loadNode(all, m.seekable));
    const size_t live = Node::all.size();
    try {
        loadNode(all, m.seekable);
        ADD_FAILURE() << "loaded";
    } catch (const ccArchive::Errors& e) {
        EXPECT_EQ(e.code(), m.error);
    }
    EXPECT_EQ(Node::all.size(), live + m.survivors); // the objects whose load failed are gone
}

INSTANTIATE_TEST_SUITE_P(Golden, CraftedStream, ::testing::ValuesIn(kMutations),
                         [](const ::testing::TestParamInfo<Mutation>& i) { return std::string(i.param.name); });

// Nodes 1..n, each linking the next; the fixture frees them.
Node* chain(int n)
{
    Node* next = nullptr;
    for (; n > 0; --n)
        next = new Node(n, {next});
    return next;
}

// Storing keeps to the nesting a load accepts: what is stored loads back,
// and a deeper graph is refused before the record of its first node too
// deep, leaving nothing of the failed store listed.
TEST_F(ObjectTable, NestingIsLimitedTheSameWayBothWays)
{
    const Bytes whole = storePointer(chain(256));
    Node* back = loadNode(whole);
    for (int i = 1; i <= 256; ++i, back = back->links[0])
        ASSERT_TRUE(back && back->value == i);
    Bytes deeper = whole; // the innermost link, a null record, becomes a 257th node
    deeper.resize(whole.size() - 18);
    deeper = cat({deeper, reference(257, 1), nodeBlock(257), nodeHead(257, 0)});
    EXPECT_THROW(loadNode(deeper), ccArchive::BadContent);

    Node* deep = chain(257);
    Storing s;
    EXPECT_THROW(s.store(deep), ccArchive::BadContent);
    for (Node* n = deep; n; n = n->links[0])
        EXPECT_FALSE(n->isArchived());
    EXPECT_EQ(bytesOf(s.sb.str()), Bytes(whole.begin(), whole.end() - 18)); // stopped before the link

    // A node stored whole inside the failed store is not listed either: a
    // later pointer to it stores it anew, not a reference into the failure.
    Node done(5), root(0, {&done, chain(256)});
    Storing t;
    EXPECT_THROW(t.store(&root), ccArchive::BadContent);
    EXPECT_FALSE(done.isArchived());
    EXPECT_EQ(t.slice(t.store(&done) + 9, 1), Bytes{1}); // kind 1
}

// ---------------------------------------------------------------- embedded objects

// "ar >> p" archives a pointer, "ar << p" stores an embedded object: its
// tag, then its contents.
TEST_F(ObjectTable, OperatorsAndEmbeddedObjects)
{
    Node x(5);
    Other o;
    o.text = L"a";
    Bytes plain = storeAll(kLittle, false, [&](ccArchive& ar) {
        ccPersistent* p = &x;
        ar >> p;
        ar << static_cast<const ccPersistent*>(&o);
        EXPECT_THROW(ar << static_cast<const ccPersistent*>(nullptr), ccBadPointer);
    });
    EXPECT_EQ(plain, cat({{0x02, 0x01}, reference(1, 1), nodeBlock(1), nodeHead(5, 0), {0xF1, 0x66, 0x4B, 0xDF},
                          {0x00, 0x00, 0x01, 0xFF, 0xFE, 'a', 0x00, 0xFF, 0xFE}}));
    Loader l(plain);
    ccPersistent* p = nullptr;
    l.ar() >> p;
    EXPECT_EQ(dynamic_cast<Node&>(*p).value, 5);
    // A const object is only stored, never loaded into.
    Other back;
    EXPECT_THROW(l.ar() << static_cast<const ccPersistent*>(&back), ccInvariantFailure);
    archiveEmbedded(l.ar(), back);
    EXPECT_EQ(back.text, L"a");
}

// ---------------------------------------------------------------- the table's life

// Runs in a fresh process: archives made before the core's start-up number
// and share their objects all the same.
void pointersBeforeTheStartUp()
{
    REQUIRE(ccFindFactory("class ccArchive::Eof") == nullptr); // no start-up yet
    ccRegisterPersistent<Node>();
    Shared g;
    Node* back = loadNode(storePointer(&g.r, true), true);
    REQUIRE(back && back->links.size() == 2 && back->links[0] == back->links[1] && back->links[0]->value == 2);
    childExit(0);
}

TEST(ObjectTableBeforeStartUp, ArchivesHaveTheirTable)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(pointersBeforeTheStartUp(), ::testing::ExitedWithCode(0), "");
}

TEST_F(ObjectTable, ArchivedFlagLastsWhileATableListsTheObject)
{
    Node x(1);
    {
        Storing a;
        {
            Storing b;
            a.store(&x);
            b.store(&x);
        }
        EXPECT_TRUE(x.isArchived());
        // Forgotten: stored again as a new object (kind 1), with a new number.
        x.forgetArchived();
        EXPECT_EQ(a.slice(a.store(&x) + 5, 5), cat({le(2, 4), {1}}));
    }
    EXPECT_FALSE(x.isArchived());

    // An object destroyed after storing leaves the table: another at its
    // address is a new object, not a reference to the dead one.
    alignas(Node) unsigned char storage[sizeof(Node)];
    Storing s;
    s.store(new (storage) Node(1));
    reinterpret_cast<Node*>(storage)->~Node();
    Node* second = new (storage) Node(2);
    EXPECT_EQ(s.slice(s.store(second) + 5, 5), cat({le(2, 4), {1}}));
    second->~Node();
}

// An unregistered class is refused before anything is written.
class Unregistered : public virtual ccPersistent {
public:
    const char* storedTypeName() const override { return "class ccTestUnregistered"; }
};

TEST_F(ObjectTable, FailedStoreUnlinksTheClassBlockAndForgetsTheObject)
{
    Unregistered u;
    Node bad(Node::failValue);
    Node good(7);
    Storing s(true);
    EXPECT_THROW(s.store(&u), ccArchive::UnknownType);
    EXPECT_THROW(archiveEmbedded(s.ar, u), ccArchive::UnknownType);
    EXPECT_EQ(s.sb.str().size(), 95u); // the header and the preamble
    EXPECT_THROW(s.store(&bad), ccArchive::BadFile);
    EXPECT_FALSE(bad.isArchived());
    EXPECT_EQ(s.slice(113, 4), Bytes(4, 0)); // the tag
    EXPECT_EQ(s.slice(37, 4), Bytes(4, 0));  // the chain is empty again

    // The chain takes the next block; the failed object's number is not reused.
    s.ar.seek(static_cast<int64_t>(s.sb.str().size()));
    const size_t record = s.store(&good);
    EXPECT_EQ(s.slice(record + 5, 1), Bytes{2});
    EXPECT_EQ(s.slice(37, 4), le(record + 18 - 28, 4));
}

// A typed load of another class gives null, but the object keeps its number:
// a later reference finds it. One that no load hands out goes with the archive.
TEST_F(ObjectTable, TypedLoadOfAnotherClassGivesNullAndKeepsTheObjectForLaterReferences)
{
    // One object through three pointers: kind 1, then kind 0 twice.
    Other o;
    Bytes all = storeAll(kLittle, false, [&](ccArchive& ar) {
        for (int i = 0; i < 3; ++i)
            storeOne(ar, &o);
    });
    const int live = Other::live;
    {
        Loader l(all);
        EXPECT_EQ(loadOne<Node>(l.ar(), reinterpret_cast<Node*>(1)), nullptr);
        EXPECT_EQ(Other::live, live + 1);
    }
    EXPECT_EQ(Other::live, live);

    // Handed out by a later load: the caller's, after the archive too.
    std::unique_ptr<Other> claimed;
    {
        Loader l(all);
        loadOne<Node>(l.ar());
        claimed.reset(loadOne<Other>(l.ar()));
    }
    EXPECT_EQ(Other::live, live + 1);

    // An object loaded before is somebody else's: left alone.
    Loader m(all);
    std::unique_ptr<ccPersistent> first(loadOne(m.ar()));
    EXPECT_EQ(loadOne<Node>(m.ar()), nullptr);
    EXPECT_EQ(Other::live, live + 2);
}

// ---------------------------------------------------------------- threads

// Embedded, pointer and direct whole-object operations on three threads all
// take the table lock before the archive mutex: none waits for ever. A
// node's own routine stores its links through pointers.
TEST_F(ObjectTable, ThreadsMixingEmbeddedAndPointerOperationsFinish)
{
    auto work = [](int kind) {
        for (int i = 0; i < 300; ++i) {
            Node n(i), h(-i, {&n});
            storeAll(kLittle, kind == 1, [&](ccArchive& ar) {
                if (kind == 0)
                    archiveEmbedded(ar, h);
                else if (kind == 1)
                    storeOne(ar, &n);
                else
                    ccArchiveObject(h, ar, false);
            });
        }
    };
    std::future<void> runs[3];
    for (int k = 0; k < 3; ++k)
        runs[k] = std::async(std::launch::async, work, k);
    for (auto& r : runs) {
        ASSERT_EQ(r.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        r.get(); // rethrows what the thread threw
    }
}

} // namespace
