#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "tests/std/except/archive_support.h"
#include "tests/std/except/archutil_support.h"
#include "tests/support/child_check.h"
#include "tests/support/child_exit.h"

namespace {

using namespace archive_support;
using archutil_support::Node;
using archutil_support::Other;

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// "ccTestNode" through the name table, first byte marked.
const Bytes kNodeTypeRecord = {0x00, 0x00, 0x0A, 0x22, 0xB4, 0x34, 0x25, 0x36, 0x44,
                               0x45, 0x7D, 0x40, 0x35, 0x36, 0x22, 0x00, 0x00};
// "$nt" likewise.
const Bytes kNoTypeRecord = {0x00, 0x00, 0x03, 0x22, 0xD3, 0x3F, 0x45, 0x22, 0x00, 0x00};

// A 32-bit reference record: tag, version 0, number, kind, positions A and B.
Bytes reference(uint32_t number, uint8_t kind, int32_t a = 0, int32_t b = 0)
{
    return cat(cat(cat(Bytes{0x4F, 0xE5, 0x70, 0x54, 0x00}, le32(number)), cat(Bytes{kind}, le32(uint32_t(a)))),
               le32(uint32_t(b)));
}

// A link block whose links fit 32 bits (high halves the sign extension).
Bytes link(const Bytes& tag, uint32_t value, int32_t next, int32_t previous)
{
    Bytes b = cat(tag, Bytes{0x00});
    b = cat(b, le32(value));
    b = cat(b, le32(uint32_t(next)));
    b = cat(b, le32(uint32_t(previous)));
    b = cat(b, le32(next < 0 ? 0xFFFFFFFFu : 0));
    b = cat(b, le32(previous < 0 ? 0xFFFFFFFFu : 0));
    return cat(b, Bytes{0x00});
}

const Bytes kClassTag = {0x6F, 0x8B, 0x68, 0x44};

// A 32-bit class block of a node.
Bytes nodeBlock(uint32_t number, int32_t next = 0, int32_t previous = 0, uint32_t size = 0, int32_t position = 0)
{
    return cat(cat(link(kClassTag, number, next, previous), cat(Bytes{0x00}, cat(le32(size), le32(uint32_t(position))))),
               kNodeTypeRecord);
}

// A node's contents up to its links: two version bytes, value, count.
Bytes nodeHead(int32_t value, uint32_t count) { return cat(cat(Bytes{0x00, 0x00}, le32(uint32_t(value))), le32(count)); }

class ObjectTable : public ::testing::Test {
protected:
    void SetUp() override { archutil_support::setUpTypes(); }
    void TearDown() override { Node::freeAll(); }

    static Bytes storePointer(const ccPersistent* p, bool seekable = false)
    {
        return storeAll(kLittle, seekable, [&](ccArchive& ar) {
            ccPersistent* unused = nullptr;
            archivePointer(ar, p, unused);
            ar.flush();
        });
    }
    static Node* loadNode(const Bytes& all, bool seekable = false)
    {
        Loader l(all, seekable);
        Node* n = nullptr;
        archivePointer(l.ar(), static_cast<const Node*>(nullptr), n);
        return n;
    }
};

// R (1) with two links to the same A (2).
struct Shared {
    Node r{1};
    Node a{2};
    Shared() { r.links = {&a, &a}; }
};

// ---------------------------------------------------------------- records

TEST_F(ObjectTable, NullPointerIsOneEmptyReferenceRecord)
{
    EXPECT_EQ(storePointer(nullptr), cat(Bytes{0x02, 0x01}, reference(0, 0)));
    EXPECT_EQ(loadNode(cat(Bytes{0x02, 0x01}, reference(0, 0))), nullptr);
}

// Written out from the record formats: kind 1 with the class block and the
// contents the first time, kind 0 with the same number the second.
TEST_F(ObjectTable, SharedObjectIsStoredOnceGolden)
{
    Shared g;
    const Bytes expected = cat(cat(cat(Bytes{0x02, 0x01}, reference(1, 1)), cat(nodeBlock(1), nodeHead(1, 2))),
                               cat(cat(reference(2, 1), nodeBlock(2)), cat(nodeHead(2, 0), reference(2, 0))));
    EXPECT_EQ(storePointer(&g.r), expected);

    Node* r = loadNode(expected);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->links.size(), 2u);
    EXPECT_EQ(r->value, 1);
    EXPECT_EQ(r->links[0], r->links[1]);
    EXPECT_EQ(r->links[0]->value, 2);
    EXPECT_EQ(Node::all().size(), 4u); // the two stored, the two loaded
}

// Every position worked out by hand: preamble at 2, 28, 73 and 91; R's
// record at 95 and its class block at 113 (contents from 165); A's record at
// 175, its block at 193 (contents from 245); the second record of A at 255.
TEST_F(ObjectTable, SeekableDirectoryGolden)
{
    Shared g;
    const Bytes expected = cat(
        cat(cat(Bytes{0x03, 0x01}, link({0x61, 0x13, 0x4D, 0x6B}, 0, 0, 0)),
            cat(cat(link(kClassTag, 0, 113 - 28, 0), Bytes{0x00, 0, 0, 0, 0, 0, 0, 0, 0}), kNoTypeRecord)),
        cat(cat(cat(reference(0, 0, 95 - 73, 0), le32(0)),                                      // marker flushed
                cat(reference(1, 1, 175 - 95, 73 - 95), nodeBlock(1, 193 - 113, 28 - 113, 273 - 113, 175 - 113))),
            cat(cat(nodeHead(1, 2), reference(2, 1, 255 - 175, 95 - 175)),
                cat(cat(nodeBlock(2, 0, 113 - 193, 255 - 193, 0), nodeHead(2, 0)), reference(2, 0, 0, 175 - 255)))));
    ASSERT_EQ(expected.size(), 273u);
    EXPECT_EQ(storePointer(&g.r, true), expected);

    Node* r = loadNode(expected, true);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->links.size(), 2u);
    EXPECT_EQ(r->links[0], r->links[1]);
    EXPECT_EQ(r->links[0]->value, 2);

    Loader l(expected, true);
    EXPECT_EQ(l.ar().firstRecordPosition(), 95);
    EXPECT_EQ(l.ar().tell(), 91); // behind the preamble's record

    // Without a record after the preamble the marker stays, and there is no
    // first record.
    Bytes empty = storeAll(kLittle, true, [](ccArchive& ar) { ar.flush(); });
    EXPECT_EQ(empty, cat(cat(Bytes(expected.begin(), expected.begin() + 28),
                             cat(link(kClassTag, 0, 0, 0), Bytes(expected.begin() + 54, expected.begin() + 73))),
                         cat(reference(0, 0), Bytes{0xFF, 0xFF, 0xFF, 0xFF})));
    Loader e(empty, true);
    EXPECT_EQ(e.ar().firstRecordPosition(), -1);
}

// Only the directory head's tag and version are read for what they say.
TEST_F(ObjectTable, DirectoryHeadFieldsAreNotUsed)
{
    Shared g;
    Bytes all = storePointer(&g.r, true);
    for (size_t i = 2 + 5; i < 2 + 26; ++i)
        all[i] = i == 2 + 24 ? 0x7F : 0xFF;
    Node* r = loadNode(all, true);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->links[0], r->links[1]);
    all[2 + 4] = 1;
    EXPECT_THROW(loadNode(all, true), ccArchive::UnknownVersion);
    all[2 + 4] = 0;
    all[2 + 3] = 0x6C;
    EXPECT_THROW(loadNode(all, true), ccArchive::BadContent);
}

TEST_F(ObjectTable, BadReferenceRecords)
{
    Bytes bad = cat(Bytes{0x02, 0x01}, reference(0, 0));
    bad[5] = 0x56;
    EXPECT_THROW(loadNode(bad), ccArchive::BadContent);
    bad[5] = 0x54;
    bad[2] = 0x4E;
    EXPECT_THROW(loadNode(bad), ccArchive::BadContent);
    bad[2] = 0x4F;
    bad[6] = 2; // version
    EXPECT_THROW(loadNode(bad), ccArchive::UnknownVersion);
    bad[6] = 0;
    bad[11] = 3; // kind
    EXPECT_THROW(loadNode(bad), ccArchive::BadContent);
}

TEST_F(ObjectTable, UnknownReferenceIsNotFound)
{
    EXPECT_THROW(loadNode(cat(Bytes{0x02, 0x01}, reference(7, 0))), ccArchive::NotFound);
    EXPECT_THROW(loadNode(cat(Bytes{0x02, 0x01}, reference(7, 2))), ccArchive::NotFound);

    Shared g;
    Bytes seekable = storePointer(&g.r, true);
    seekable[95 + 5] = 7; // R's record: number 7, kind 0
    seekable[95 + 9] = 0;
    EXPECT_THROW(loadNode(seekable, true), ccArchive::NotFound);
}

// R's record made a reference to A, number 2, which is stored further on:
// the class-block chain leads to it, and its own record later steps over it.
TEST_F(ObjectTable, SeekableReferenceAheadIsFoundThroughTheChain)
{
    Shared g;
    Bytes all = storePointer(&g.r, true);
    all[175 + 9] = 2; // A's first record: kind 2, stepped over once A is made
    Loader l(all, true);
    l.ar().seek(175);
    Node* a = nullptr;
    archivePointer(l.ar(), static_cast<const Node*>(nullptr), a);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->value, 2);
    EXPECT_EQ(l.ar().tell(), 255);

    Node* last = nullptr;
    archivePointer(l.ar(), static_cast<const Node*>(nullptr), last);
    EXPECT_EQ(last, a);
    EXPECT_EQ(l.ar().tell(), 273);

    // A kind-1 record of a known object: its contents are stepped over.
    l.ar().seek(95);
    Node* r = nullptr;
    archivePointer(l.ar(), static_cast<const Node*>(nullptr), r);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->links[0], a);
    EXPECT_EQ(r->links[1], a);

    l.ar().seek(175);
    Node* again = nullptr;
    archivePointer(l.ar(), static_cast<const Node*>(nullptr), again);
    EXPECT_EQ(again, a);
    EXPECT_EQ(l.ar().tell(), 255);
}

// ---------------------------------------------------------------- graphs

TEST_F(ObjectTable, GraphWithSharingAndCyclesKeepsItsShape)
{
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable);
        Node a(10), b(20), c(30), d(40);
        a.links = {&b, &c, nullptr, &a};
        b.links = {&c, &a};
        c.links = {&d, &b};
        d.links = {&d, &a};
        Node* root = loadNode(storePointer(&a, seekable), seekable);
        ASSERT_NE(root, nullptr);
        Node* lb = root->links[0];
        Node* lc = root->links[1];
        ASSERT_EQ(lb->links.size(), 2u);
        Node* ld = lc->links[0];
        EXPECT_EQ(root->value, 10);
        EXPECT_EQ(lb->value, 20);
        EXPECT_EQ(lc->value, 30);
        EXPECT_EQ(ld->value, 40);
        EXPECT_EQ(root->links[2], nullptr);
        EXPECT_EQ(root->links[3], root);
        EXPECT_EQ(lb->links[0], lc);
        EXPECT_EQ(lb->links[1], root);
        EXPECT_EQ(lc->links[1], lb);
        EXPECT_EQ(ld->links[0], ld);
        EXPECT_EQ(ld->links[1], root);
        for (Node* n : {root, lb, lc, ld})
            delete n;
    }
}

TEST_F(ObjectTable, OperatorsArchivePointersAndEmbeddedObjects)
{
    Node x(5);
    Other o;
    o.text = L"embedded";
    Bytes all = storeAll(kLittle, false, [&](ccArchive& ar) {
        ccPersistent* p = &x;
        ar >> p;
        ar << static_cast<const ccPersistent*>(&o);
        EXPECT_THROW(ar << static_cast<const ccPersistent*>(nullptr), ccBadPointer);
    });
    Loader l(all);
    ccPersistent* p = nullptr;
    l.ar() >> p;
    ASSERT_NE(dynamic_cast<Node*>(p), nullptr);
    EXPECT_EQ(dynamic_cast<Node*>(p)->value, 5);
    // A const object is only stored, never loaded into.
    Other back;
    EXPECT_THROW(l.ar() << static_cast<const ccPersistent*>(&back), ccInvariantFailure);
    EXPECT_EQ(l.ar().tell(), 2 + 18 + 52 + 10);
    archiveEmbedded(l.ar(), back);
    EXPECT_EQ(back.text, L"embedded");
}

// ---------------------------------------------------------------- embedded objects

TEST_F(ObjectTable, EmbeddedObjectHasATagAndInSeekableArchivesAClassBlock)
{
    Other o;
    o.text = L"a";
    const Bytes contents = {0x00, 0x00, 0x01, 0xFF, 0xFE, 'a', 0x00, 0xFF, 0xFE};
    Bytes plain = storeAll(kLittle, false, [&](ccArchive& ar) { archiveEmbedded(ar, o); });
    EXPECT_EQ(plain, cat(Bytes{0x02, 0x01, 0xF1, 0x66, 0x4B, 0xDF}, contents));

    Other back;
    Loader l(plain);
    archiveEmbedded(l.ar(), back);
    EXPECT_EQ(back.text, L"a");

    // Seekable: the class block takes number 1, so a pointer stored next
    // gets number 2.
    Node n(3);
    Bytes seekable = storeAll(kLittle, true, [&](ccArchive& ar) {
        archiveEmbedded(ar, o);
        ccPersistent* unused = nullptr;
        archivePointer(ar, &n, unused);
    });
    const size_t block = 95 + 4;
    EXPECT_EQ(Bytes(seekable.begin() + block, seekable.begin() + block + 9),
              (Bytes{0x6F, 0x8B, 0x68, 0x44, 0x00, 0x01, 0x00, 0x00, 0x00}));
    uint32_t size = 0;
    std::memcpy(&size, &seekable[block + 27], 4);
    const size_t record = block + size;
    ASSERT_LT(record + 18, seekable.size());
    EXPECT_EQ(Bytes(seekable.begin() + record, seekable.begin() + record + 4), (Bytes{0x4F, 0xE5, 0x70, 0x54}));
    EXPECT_EQ(seekable[record + 5], 2);

    Loader m(seekable, true);
    Other again;
    archiveEmbedded(m.ar(), again);
    EXPECT_EQ(again.text, L"a");
    Node* loaded = nullptr;
    archivePointer(m.ar(), static_cast<const Node*>(nullptr), loaded);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->value, 3);
}

// Asks to skip the embedded record when its tag is absent.
class Skipper : public Other {
public:
    bool skipsEmbeddedRecord() const override { return true; }
};

TEST_F(ObjectTable, EmbeddedObjectWithoutItsTag)
{
    const Bytes contents = {0x00, 0x00, 0x01, 0x22, 'b', 0x22};
    Other o;
    EXPECT_THROW(
        {
            Loader l(cat(Bytes{0x02, 0x01}, contents));
            archiveEmbedded(l.ar(), o);
        },
        ccArchive::NotSeekable);

    // A header of version 0 has no tag: the contents follow at once.
    Loader old(cat(Bytes{0x00, 0x01}, contents));
    archiveEmbedded(old.ar(), o);
    EXPECT_EQ(o.text, L"b");

    Skipper s;
    Loader skipped(cat(Bytes{0x00, 0x01}, contents));
    archiveEmbedded(skipped.ar(), s);
    EXPECT_EQ(s.text, L"");
    EXPECT_EQ(skipped.ar().tell(), 2);

    // A seekable archive goes back over the four bytes that were not a tag.
    Bytes seekable = storeAll(kLittle, true, [&](ccArchive& ar) {
        Other a;
        archiveEmbedded(ar, a);
    });
    seekable.erase(seekable.begin() + 95, seekable.begin() + 99);
    Loader m(seekable, true);
    Other back;
    archiveEmbedded(m.ar(), back);
    EXPECT_EQ(m.ar().tell(), static_cast<int64_t>(seekable.size()));
}

TEST_F(ObjectTable, StoringIntoAnArchiveOfVersionZeroIsRefused)
{
    // A seekable version-0 stream switched to storing.
    Bytes preamble = storeAll(kLittle, true, [](ccArchive&) {});
    preamble[0] = 0x01;
    std::stringbuf sb(std::string(preamble.begin(), preamble.end()),
                      std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::loading, kLittle, true);
    ar.archiveHeader();
    ASSERT_EQ(ar.version(), 0);
    ar.setMode(ccArchive::storing);
    Other o;
    EXPECT_THROW(archiveEmbedded(ar, o), ccArchive::CannotWriteToOldArchive);
}

// An unregistered class is refused before anything is written.
class Unregistered : public virtual ccPersistent {
public:
    const char* storedTypeName() const override { return "class ccTestUnregistered"; }
};

TEST_F(ObjectTable, UnregisteredClassIsRefused)
{
    Unregistered u;
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, kLittle, false);
    ar.archiveHeader();
    ccPersistent* unused = nullptr;
    try {
        archivePointer(ar, &u, unused);
        ADD_FAILURE() << "stored";
    } catch (const ccArchive::UnknownType& e) {
        EXPECT_EQ(e.typeName(), "ccTestUnregistered");
        EXPECT_EQ(e.file(), L"archutil");
    }
    EXPECT_THROW(archiveEmbedded(ar, u), ccArchive::UnknownType);
    EXPECT_EQ(sb.str().size(), 2u);
}

// ---------------------------------------------------------------- the table's life

// Runs in a fresh process: archives made before the core's start-up number
// and share their objects all the same.
void pointersBeforeTheStartUp()
{
    REQUIRE(ccFindFactory("class ccArchive::Eof") == nullptr); // no start-up yet
    ccRegisterPersistent<Node>();
    for (bool seekable : {false, true}) {
        Node a(1), b(2);
        a.links = {&b, &b};
        const Bytes all = storeAll(kLittle, seekable, [&](ccArchive& ar) {
            ccPersistent* unused = nullptr;
            archivePointer(ar, &a, unused);
            ar.flush();
        });
        Loader l(all, seekable);
        Node* back = nullptr;
        archivePointer(l.ar(), static_cast<const Node*>(nullptr), back);
        REQUIRE(back && back->value == 1 && back->links.size() == 2);
        REQUIRE(back->links[0] == back->links[1] && back->links[0]->value == 2);
        delete back->links[0];
        delete back;
    }
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
    EXPECT_FALSE(x.isArchived());
    {
        std::stringbuf one, two;
        ccArchive a(&one, ccArchive::storing, kLittle, false);
        ccArchive b(&two, ccArchive::storing, kLittle, false);
        a.archiveHeader();
        b.archiveHeader();
        ccPersistent* unused = nullptr;
        {
            ccArchive c(&two, ccArchive::storing, kLittle, false);
            archivePointer(c, &x, unused);
            EXPECT_TRUE(x.isArchived());
        }
        EXPECT_FALSE(x.isArchived());
        archivePointer(a, &x, unused);
        archivePointer(b, &x, unused);
        EXPECT_TRUE(x.isArchived());
        // Forgotten: stored again as a new object, with a new number.
        x.forgetArchived();
        EXPECT_FALSE(x.isArchived());
        const size_t before = one.str().size();
        archivePointer(a, &x, unused);
        const std::string s = one.str();
        EXPECT_EQ(s[before + 9], 1); // kind 1
        EXPECT_EQ(s[before + 5], 2); // number 2
        // Assigned new contents: likewise stored again.
        Node other(7);
        static_cast<ccPersistent&>(x) = other; // what every class's assignment reaches
        EXPECT_FALSE(x.isArchived());
        const size_t assigned = one.str().size();
        archivePointer(a, &x, unused);
        EXPECT_EQ(one.str()[assigned + 9], 1);
    }
    EXPECT_FALSE(x.isArchived());
}

TEST_F(ObjectTable, ObjectDestroyedAfterStoringLeavesTheTable)
{
    alignas(Node) unsigned char storage[sizeof(Node)];
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, kLittle, false);
    ar.archiveHeader();
    ccPersistent* unused = nullptr;

    Node* first = new (storage) Node(1);
    archivePointer(ar, first, unused);
    first->~Node();
    Node* second = new (storage) Node(2);
    const size_t before = sb.str().size();
    archivePointer(ar, second, unused);
    const std::string s = sb.str();
    EXPECT_EQ(s[before + 9], 1); // a new object, not a reference to the dead one
    EXPECT_EQ(s[before + 5], 2);
    second->~Node();
}

// ---------------------------------------------------------------- failures

TEST_F(ObjectTable, FailedStoreUnlinksTheClassBlockAndForgetsTheObject)
{
    Node bad(Node::failValue);
    Node good(7);
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, kLittle, true);
    ar.archiveHeader();
    ccPersistent* unused = nullptr;
    EXPECT_THROW(archivePointer(ar, &bad, unused), ccArchive::BadFile);
    EXPECT_FALSE(bad.isArchived());
    std::string s = sb.str();
    EXPECT_EQ(s.substr(113, 4), std::string(4, '\0'));
    EXPECT_EQ(s.substr(28 + 9, 4), std::string(4, '\0')); // the chain is empty again

    // The chain takes the next block; the failed object's number is not reused.
    ar.seek(static_cast<int64_t>(s.size()));
    const int64_t record = ar.tell();
    archivePointer(ar, &good, unused);
    s = sb.str();
    EXPECT_EQ(s[record + 5], 2);
    int32_t link1 = 0;
    std::memcpy(&link1, &s[28 + 9], 4);
    EXPECT_EQ(28 + link1, record + 18);

    // By value: its class block (after the tag) leaves the chain the same way.
    std::stringbuf sb2(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive embedded(&sb2, ccArchive::storing, kLittle, true);
    embedded.archiveHeader();
    EXPECT_THROW(archiveEmbedded(embedded, bad), ccArchive::BadFile);
    s = sb2.str();
    EXPECT_EQ(s.substr(99, 4), std::string(4, '\0'));
    EXPECT_EQ(s.substr(28 + 9, 4), std::string(4, '\0'));
}

TEST_F(ObjectTable, FailedLoadDestroysTheNewObject)
{
    // Written by hand: the node would refuse to be stored.
    const Bytes all = cat(cat(Bytes{0x02, 0x01}, reference(1, 1)), cat(nodeBlock(1), nodeHead(Node::failValue, 0)));
    const size_t before = Node::all().size();
    EXPECT_THROW(loadNode(all), ccArchive::BadFile);
    EXPECT_EQ(Node::all().size(), before);
}

// A typed load of another class gives null, but the object keeps its number:
// a later reference finds it. One that no load hands out goes with the archive.
TEST_F(ObjectTable, TypedLoadOfAnotherClassGivesNullAndKeepsTheObjectForLaterReferences)
{
    Other o;
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable);
        // One object through three pointers: kind 1, then kind 0 twice.
        Bytes all = storeAll(kLittle, seekable, [&](ccArchive& ar) {
            ccPersistent* unused = nullptr;
            for (int i = 0; i < 3; ++i)
                archivePointer(ar, &o, unused);
        });
        const int live = Other::live;
        {
            Loader l(all, seekable);
            for (int i = 0; i < 2; ++i) {
                Node* n = reinterpret_cast<Node*>(1);
                archivePointer(l.ar(), static_cast<const Node*>(nullptr), n);
                EXPECT_EQ(n, nullptr);
                EXPECT_EQ(Other::live, live + 1);
            }
        }
        EXPECT_EQ(Other::live, live);

        // Handed out by a later load: the caller's, after the archive too.
        Other* claimed = nullptr;
        {
            Loader l(all, seekable);
            Node* n = nullptr;
            archivePointer(l.ar(), static_cast<const Node*>(nullptr), n);
            archivePointer(l.ar(), static_cast<const Other*>(nullptr), claimed);
            ccPersistent* again = nullptr;
            archivePointer(l.ar(), nullptr, again);
            ASSERT_NE(claimed, nullptr);
            EXPECT_EQ(again, claimed);
        }
        EXPECT_EQ(Other::live, live + 1);
        delete claimed;
    }

    // An object loaded before is somebody else's: left alone.
    Bytes all = storeAll(kLittle, false, [&](ccArchive& ar) {
        ccPersistent* unused = nullptr;
        archivePointer(ar, &o, unused);
        archivePointer(ar, &o, unused);
    });
    const int live = Other::live;
    Node* n = nullptr;
    Loader m(all);
    ccPersistent* first = nullptr;
    archivePointer(m.ar(), nullptr, first);
    ASSERT_NE(dynamic_cast<Other*>(first), nullptr);
    archivePointer(m.ar(), static_cast<const Node*>(nullptr), n);
    EXPECT_EQ(n, nullptr);
    EXPECT_EQ(Other::live, live + 1);
    delete first;
}

// ---------------------------------------------------------------- crafted streams

TEST_F(ObjectTable, ChainThatTurnsBackIsBadContent)
{
    Shared g;
    Bytes all = storePointer(&g.r, true);
    all[95 + 5] = 7; // R's record: a reference to 7, searched for in the chain
    all[95 + 9] = 0;
    Bytes loop = all;
    const int32_t back = 113 - 193;
    std::memcpy(&loop[193 + 9], &back, 4); // A's link 1 leads back to R
    std::memset(&loop[193 + 17], 0xFF, 4);
    EXPECT_THROW(loadNode(loop, true), ccArchive::BadContent);

    EXPECT_THROW(loadNode(all, true), ccArchive::NotFound);

    Bytes outside = all;
    const int32_t far = 100000;
    std::memcpy(&outside[193 + 9], &far, 4);
    EXPECT_THROW(loadNode(outside, true), ccArchive::Errors);
    const int32_t beforeStart = -100000;
    std::memcpy(&outside[193 + 9], &beforeStart, 4);
    std::memset(&outside[193 + 17], 0xFF, 4);
    EXPECT_THROW(loadNode(outside, true), ccArchive::BadContent);
    std::memset(&outside[193 + 9], 0xFF, 4); // past what 64 bits hold
    std::memset(&outside[193 + 17], 0xFF, 3);
    outside[193 + 20] = 0x7F;
    EXPECT_THROW(loadNode(outside, true), ccArchive::BadContent);
}

TEST_F(ObjectTable, SizeThatLeadsBackwardsIsBadContent)
{
    Shared g;
    Bytes all = storePointer(&g.r, true);
    all[193 + 27] = 20; // A's size ends inside its own class block
    EXPECT_THROW(loadNode(all, true), ccArchive::BadContent);
}

TEST_F(ObjectTable, KnownObjectWithContentsButNoSizeIsBadContent)
{
    // The second record of A says kind 1 in a stream that cannot step over.
    const Bytes all = cat(cat(cat(Bytes{0x02, 0x01}, reference(1, 1)), cat(nodeBlock(1), nodeHead(1, 2))),
                          cat(cat(reference(2, 1), nodeBlock(2)),
                              cat(cat(nodeHead(2, 0), reference(2, 1)), cat(nodeBlock(2), nodeHead(2, 0)))));
    EXPECT_THROW(loadNode(all), ccArchive::BadContent);
}

// Each node holds the next: depth n.
Bytes nestedNodes(int n)
{
    Bytes all = {0x02, 0x01};
    for (int i = 1; i <= n; ++i)
        all = cat(all, cat(cat(reference(uint32_t(i), 1), nodeBlock(uint32_t(i))), nodeHead(i, 1)));
    return cat(all, reference(0, 0));
}

// n nodes, each holding the next, as nestedNodes lays them out.
std::vector<std::unique_ptr<Node>> chain(int n)
{
    std::vector<std::unique_ptr<Node>> nodes;
    for (int i = 1; i <= n; ++i)
        nodes.emplace_back(new Node(i));
    for (int i = 0; i < n; ++i)
        nodes[size_t(i)]->links = {i + 1 < n ? nodes[size_t(i) + 1].get() : nullptr};
    return nodes;
}

// Storing keeps to the nesting a load accepts: what is stored loads back,
// and a deeper graph is refused before the record of its first node too
// deep, leaving nothing of the failed store listed.
TEST_F(ObjectTable, NestingIsLimitedTheSameWayBothWays)
{
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable);
        auto nodes = chain(256);
        const Bytes all = storePointer(nodes[0].get(), seekable);
        if (!seekable) {
            EXPECT_EQ(all, nestedNodes(256));
        }
        Node* back = loadNode(all, seekable);
        for (int i = 1; i <= 256; ++i, back = back->links[0]) {
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(back->value, i);
        }
        EXPECT_EQ(back, nullptr);

        for (int n : {257, 300}) {
            SCOPED_TRACE(n);
            auto deep = chain(n);
            std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
            ccArchive ar(&sb, ccArchive::storing, kLittle, seekable);
            ar.archiveHeader();
            ccPersistent* unused = nullptr;
            EXPECT_THROW(archivePointer(ar, deep[0].get(), unused), ccArchive::BadContent);
            for (const auto& node : deep)
                EXPECT_FALSE(node->isArchived());
            if (!seekable) { // the 256th node's contents stop before its link
                const Bytes whole = nestedNodes(256);
                EXPECT_EQ(bytesOf(sb.str()), Bytes(whole.begin(), whole.end() - 18));
            }
        }
    }
    EXPECT_THROW(loadNode(nestedNodes(257)), ccArchive::BadContent);

    // A node stored whole inside the failed store is not listed either: a
    // later pointer to it stores it anew, not a reference into the failure.
    auto deep = chain(256);
    Node done(5);
    Node root(0);
    root.links = {&done, deep[0].get()};
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, kLittle, false);
    ar.archiveHeader();
    ccPersistent* unused = nullptr;
    EXPECT_THROW(archivePointer(ar, &root, unused), ccArchive::BadContent);
    EXPECT_FALSE(done.isArchived());
    const size_t before = sb.str().size();
    archivePointer(ar, &done, unused);
    EXPECT_EQ(sb.str()[before + 9], 1); // kind 1
}

TEST_F(ObjectTable, ClassBlockNamingNoTypeMakesNoObject)
{
    Bytes all = cat(cat(Bytes{0x02, 0x01}, reference(1, 1)),
                    cat(cat(link(kClassTag, 1, 0, 0), Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0}), kNoTypeRecord));
    EXPECT_THROW(loadNode(all), ccArchive::BadContent);
    Bytes unknown = cat(cat(Bytes{0x02, 0x01}, reference(1, 1)), nodeBlock(1));
    unknown[2 + 18 + 35 + 5] ^= 1; // one letter of the name
    EXPECT_THROW(loadNode(unknown), ccArchive::UnknownType);
}

// ---------------------------------------------------------------- threads

// Stores a node through a pointer from inside an embedded object.
class Holder : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestHolder";
    static ccPersistent* cmCreate() { return new (std::nothrow) Holder; }
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Holder)))
            return;
        ccArchiveVersion(ar, 0, "ccTestHolder", 0);
        ccPersistent::archive(ar);
        archivePointer(ar, inner, inner);
        ccArchiveVisit::end(this, typeid(Holder));
    }
    Node* inner = nullptr;
};

// Embedded, pointer and direct whole-object operations on three threads all
// take the table lock before the archive mutex: none waits for ever.
TEST_F(ObjectTable, ThreadsMixingEmbeddedAndPointerOperationsFinish)
{
    static const bool registered = (ccRegisterPersistent<Holder>(), true);
    (void)registered;
    auto work = [](int kind) {
        for (int i = 0; i < 300; ++i) {
            Node n(i);
            Holder h;
            h.inner = &n;
            storeAll(kLittle, kind == 1, [&](ccArchive& ar) {
                ccPersistent* unused = nullptr;
                if (kind == 0)
                    archiveEmbedded(ar, h);
                else if (kind == 1)
                    archivePointer(ar, &n, unused);
                else
                    ccArchiveObject(h, ar, false);
            });
        }
        return true;
    };
    std::future<bool> runs[3];
    for (int k = 0; k < 3; ++k)
        runs[k] = std::async(std::launch::async, work, k);
    for (auto& r : runs) {
        ASSERT_EQ(r.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_TRUE(r.get());
    }
}

} // namespace
