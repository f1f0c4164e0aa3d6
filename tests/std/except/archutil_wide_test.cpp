// Records more than 2 GB apart and extents of 4 GB, over a sparse stream:
// only the pages written are kept, everything else reads as zero.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <streambuf>
#include <vector>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "tests/std/except/archive_support.h"
#include "tests/std/except/archutil_support.h"

namespace {

using namespace archive_support;
using archutil_support::Node;

class SparseBuffer : public std::streambuf {
public:
    Bytes read(int64_t at, size_t n) const
    {
        Bytes out(n);
        for (size_t i = 0; i < n; ++i)
            out[i] = byteAt(at + static_cast<int64_t>(i));
        return out;
    }
    template <class T>
    T value(int64_t at) const
    {
        Bytes b = read(at, sizeof(T));
        T v;
        std::memcpy(&v, b.data(), sizeof(T)); // the tests store little-endian
        return v;
    }
    void poke(int64_t at, unsigned char byte) { pages_[at / kPage][static_cast<size_t>(at % kPage)] = byte; }

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        put(static_cast<unsigned char>(c));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        for (std::streamsize i = 0; i < n; ++i)
            put(static_cast<unsigned char>(s[i]));
        return n;
    }
    int_type underflow() override { return get_ < end_ ? byteAt(get_) : traits_type::eof(); }
    int_type uflow() override { return get_ < end_ ? byteAt(get_++) : traits_type::eof(); }
    std::streamsize xsgetn(char* s, std::streamsize n) override
    {
        std::streamsize i = 0;
        for (; i < n && get_ < end_; ++i)
            s[i] = static_cast<char>(byteAt(get_++));
        return i;
    }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override
    {
        const bool in = which & std::ios_base::in;
        const int64_t base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::end ? end_ : in ? get_ : put_;
        const int64_t to = base + off;
        if (to < 0)
            return pos_type(off_type(-1));
        (in ? get_ : put_) = to;
        return pos_type(to);
    }
    pos_type seekpos(pos_type p, std::ios_base::openmode which) override
    {
        return seekoff(off_type(p), std::ios_base::beg, which);
    }

private:
    static constexpr int64_t kPage = 4096;
    unsigned char byteAt(int64_t at) const
    {
        auto it = pages_.find(at / kPage);
        return it == pages_.end() ? 0 : it->second[static_cast<size_t>(at % kPage)];
    }
    void put(unsigned char c)
    {
        std::vector<unsigned char>& page = pages_[put_ / kPage];
        if (page.empty())
            page.assign(kPage, 0);
        page[static_cast<size_t>(put_ % kPage)] = c;
        if (++put_ > end_)
            end_ = put_;
    }

    std::map<int64_t, std::vector<unsigned char>> pages_;
    int64_t get_ = 0;
    int64_t put_ = 0;
    int64_t end_ = 0;
};

// Contents of a chosen length: the length, then a jump over the rest.
class Spacer : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestSpacer";
    static ccPersistent* cmCreate() { return new (std::nothrow) Spacer; }
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Spacer)))
            return;
        ccArchiveVersion(ar, 0, "ccTestSpacer", 0);
        ccPersistent::archive(ar);
        ar.archive(extent);
        ar.seekRelative(extent, std::ios_base::cur);
        ccArchiveVisit::end(this, typeid(Spacer));
    }
    long long extent = 0;
};

// Three null pointers, the second 3 GB after the first.
class Jumper : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestJumper";
    static ccPersistent* cmCreate() { return new (std::nothrow) Jumper; }
    static constexpr int64_t kJump = 3LL << 30;
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Jumper)))
            return;
        ccArchiveVersion(ar, 0, "ccTestJumper", 0);
        ccPersistent::archive(ar);
        Node* none = nullptr;
        archivePointer(ar, none, none);
        ar.seekRelative(kJump, std::ios_base::cur);
        archivePointer(ar, none, none);
        archivePointer(ar, none, none);
        ccArchiveVisit::end(this, typeid(Jumper));
    }
};

// Stores a null pointer `back` bytes before the end of its contents, which
// end where that distance was archived.
class SeekBack : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestSeekBack";
    static ccPersistent* cmCreate() { return new (std::nothrow) SeekBack; }
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(SeekBack)))
            return;
        ccArchiveVersion(ar, 0, "ccTestSeekBack", 0);
        ccPersistent::archive(ar);
        ar.archive(back);
        const int64_t start = ar.tell();
        ar.seek(start - back);
        Node* none = nullptr;
        archivePointer(ar, none, none);
        ar.seek(start);
        ccArchiveVisit::end(this, typeid(SeekBack));
    }
    long long back = 0;
};

// Embeds a SeekBack 3 GB into the stream.
class Far : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestFar";
    static ccPersistent* cmCreate() { return new (std::nothrow) Far; }
    static constexpr int64_t kAt = 3LL << 30;
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Far)))
            return;
        ccArchiveVersion(ar, 0, "ccTestFar", 0);
        ccPersistent::archive(ar);
        ar.seek(kAt);
        archiveEmbedded(ar, inner);
        ccArchiveVisit::end(this, typeid(Far));
    }
    SeekBack inner;
};

// The length of a class block whose link block and fields are 32-bit.
int64_t classBlockLength(const char* storedName)
{
    Bytes record = store(kLittle, [&](ccArchive& ar) {
        std::string name = storedName;
        ccArchiveTypeName(ar, name);
    });
    return 26 + 1 + 4 + 4 + static_cast<int64_t>(record.size());
}

// The first object's record follows the 95 bytes of header and preamble.
constexpr int64_t kFirstRecord = 95;
constexpr int64_t kFirstBlock = kFirstRecord + 18;

class WidePositions : public ::testing::Test {
protected:
    void SetUp() override
    {
        archutil_support::setUpTypes();
        static const bool registered = [] {
            ccRegisterPersistent<Spacer>();
            ccRegisterPersistent<Jumper>();
            ccRegisterPersistent<SeekBack>();
            ccRegisterPersistent<Far>();
            return true;
        }();
        (void)registered;
    }
    void TearDown() override { Node::freeAll(); }

    template <class F>
    void store(F f)
    {
        ccArchive ar(buffer_.get(), ccArchive::storing, kLittle, true);
        ar.archiveHeader();
        f(ar);
        ar.flush();
    }
    template <class F>
    void load(F f)
    {
        buffer_->pubseekpos(0, std::ios_base::in);
        ccArchive ar(buffer_.get(), ccArchive::loading, kLittle, true);
        ar.archiveHeader();
        f(ar);
    }

    std::unique_ptr<SparseBuffer> buffer_{new SparseBuffer};
};

// Spacers of the given extents, stored and loaded back through pointers.
void storeSpacers(ccArchive& ar, std::initializer_list<long long> extents)
{
    for (long long e : extents) {
        Spacer s;
        s.extent = e;
        ccPersistent* unused = nullptr;
        archivePointer(ar, &s, unused);
    }
}

std::vector<long long> loadSpacers(ccArchive& ar, size_t n)
{
    std::vector<long long> extents;
    for (size_t i = 0; i < n; ++i) {
        Spacer* s = nullptr;
        archivePointer(ar, static_cast<const Spacer*>(nullptr), s);
        std::unique_ptr<Spacer> owned(s);
        extents.push_back(s ? s->extent : -1);
    }
    return extents;
}

TEST_F(WidePositions, SizeOf0xFFFFFFFFFitsAndOneMoreTakesTheEscape)
{
    const int64_t head = classBlockLength(Spacer::kStoredName);
    // The second record, 4 GB after the first, takes the reference escape
    // either way: tag 55, version 1.
    const long long fits = 0xFFFFFFFFLL - head - 2 - 8;
    store([&](ccArchive& ar) { storeSpacers(ar, {fits, 0}); });
    EXPECT_EQ(buffer_->read(kFirstBlock, 4), (Bytes{0x6F, 0x8B, 0x68, 0x44}));
    EXPECT_EQ(buffer_->value<uint8_t>(kFirstBlock + 26), 0);
    EXPECT_EQ(buffer_->value<uint32_t>(kFirstBlock + 27), 0xFFFFFFFFu);
    EXPECT_EQ(buffer_->value<int32_t>(kFirstBlock + 31), 0);
    EXPECT_EQ(buffer_->read(kFirstBlock + 0xFFFFFFFFLL, 5), (Bytes{0x4F, 0xE5, 0x70, 0x55, 0x01}));
    load([&](ccArchive& ar) { EXPECT_EQ(loadSpacers(ar, 2), (std::vector<long long>{fits, 0})); });

    buffer_.reset(new SparseBuffer);
    const long long extent = fits + 1;
    store([&](ccArchive& ar) { storeSpacers(ar, {extent, 0}); });
    EXPECT_EQ(buffer_->read(kFirstBlock, 4), (Bytes{0x6F, 0x8B, 0x68, 0x45}));
    EXPECT_EQ(buffer_->value<uint8_t>(kFirstBlock + 26), 0); // the size form stays 0
    const uint64_t size = buffer_->value<uint64_t>(kFirstBlock + 27);
    EXPECT_EQ(size, 0x100000000ULL + 8);
    EXPECT_EQ(buffer_->value<int64_t>(kFirstBlock + static_cast<int64_t>(size) - 8), 0); // no record inside

    // From then on: 64-bit records and class blocks.
    const int64_t next = kFirstBlock + static_cast<int64_t>(size);
    const int64_t second = next + 26;
    EXPECT_EQ(buffer_->read(next, 5), (Bytes{0x4F, 0xE5, 0x70, 0x55, 0x01}));
    EXPECT_EQ(buffer_->read(second, 4), (Bytes{0x6F, 0x8B, 0x68, 0x44}));
    EXPECT_EQ(buffer_->value<uint8_t>(second + 26), 1);
    // The links between the two blocks, more than 4 GB, keep their high halves.
    EXPECT_EQ(buffer_->value<uint32_t>(kFirstBlock + 9), uint32_t(second - kFirstBlock));
    EXPECT_EQ(buffer_->value<int32_t>(kFirstBlock + 17), int32_t((second - kFirstBlock) >> 32));
    EXPECT_EQ(buffer_->value<uint32_t>(second + 13), uint32_t(kFirstBlock - second));
    EXPECT_EQ(buffer_->value<int32_t>(second + 21), int32_t((kFirstBlock - second) >> 32));
    load([&](ccArchive& ar) { EXPECT_EQ(loadSpacers(ar, 2), (std::vector<long long>{extent, 0})); });

    // The second record made a reference found through the chain: it
    // follows the first block's 64-bit link.
    buffer_->poke(next + 9, 2);
    load([&](ccArchive& ar) {
        ar.seek(next);
        EXPECT_EQ(loadSpacers(ar, 1), (std::vector<long long>{0}));
        // Size form 1: 8 more bytes of size and position.
        EXPECT_EQ(ar.tell(), second + classBlockLength(Spacer::kStoredName) + 8 + 10);
    });
}

TEST_F(WidePositions, RecordsMoreThan2GBApartTakeTheReferenceEscape)
{
    Node after(5);
    store([&](ccArchive& ar) {
        Jumper j;
        ccPersistent* unused = nullptr;
        archivePointer(ar, &j, unused);
        archivePointer(ar, &after, unused);
    });
    const int64_t r1 = kFirstBlock + classBlockLength(Jumper::kStoredName) + 2;
    const int64_t r2 = r1 + 18 + Jumper::kJump;
    const int64_t r3 = r2 + 26;
    const int64_t r4 = r3 + 26;

    // The first record: tag 55, still version 0, a 64-bit position A over
    // both of its 32-bit fields.
    EXPECT_EQ(buffer_->read(r1, 5), (Bytes{0x4F, 0xE5, 0x70, 0x55, 0x00}));
    EXPECT_EQ(buffer_->value<int64_t>(r1 + 10), r2 - r1);
    // The second: tag 55, version 1, position B past the patched record.
    EXPECT_EQ(buffer_->read(r2, 5), (Bytes{0x4F, 0xE5, 0x70, 0x55, 0x01}));
    EXPECT_EQ(buffer_->value<int64_t>(r2 + 10), r3 - r2);
    EXPECT_EQ(buffer_->value<int64_t>(r2 + 18), kFirstRecord - r2);
    // Then 64-bit records with the usual tag.
    EXPECT_EQ(buffer_->read(r3, 5), (Bytes{0x4F, 0xE5, 0x70, 0x54, 0x01}));
    EXPECT_EQ(buffer_->value<int64_t>(r3 + 18), r2 - r3);
    EXPECT_EQ(buffer_->read(r4, 5), (Bytes{0x4F, 0xE5, 0x70, 0x54, 0x01}));
    EXPECT_EQ(buffer_->value<uint8_t>(r4 + 26 + 26), 1); // the node's block: size form 1
    // The Jumper's block still fits its 32-bit form.
    EXPECT_EQ(buffer_->value<uint32_t>(kFirstBlock + 27), static_cast<uint32_t>(r4 - kFirstBlock));
    EXPECT_EQ(buffer_->value<int32_t>(kFirstBlock + 31), r1 - kFirstBlock);

    load([&](ccArchive& ar) {
        ccPersistent* j = nullptr;
        archivePointer(ar, nullptr, j);
        std::unique_ptr<ccPersistent> owned(j);
        EXPECT_NE(dynamic_cast<Jumper*>(j), nullptr);
        Node* n = nullptr;
        archivePointer(ar, static_cast<const Node*>(nullptr), n);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->value, 5);
        ar.seek(0);
        EXPECT_EQ(ar.firstRecordPosition(), kFirstRecord);
    });
}

TEST_F(WidePositions, PositionOfMinus2147483647FitsAndOneMoreTakesTheEscape)
{
    const int64_t head = classBlockLength(SeekBack::kStoredName);
    const int64_t first = Far::kAt + 4;
    for (const int64_t position : {-2147483647LL, -2147483648LL}) {
        SCOPED_TRACE(position);
        buffer_.reset(new SparseBuffer);
        // The contents end at first + head + 10, two version bytes and back.
        const long long back = head + 10 - position;
        store([&](ccArchive& ar) {
            Far f;
            f.inner.back = back;
            ccPersistent* unused = nullptr;
            archivePointer(ar, &f, unused);
        });
        const bool escaped = position < -2147483647LL;
        EXPECT_EQ(buffer_->read(first, 4), (Bytes{0x6F, 0x8B, 0x68, uint8_t(escaped ? 0x45 : 0x44)}));
        EXPECT_EQ(buffer_->value<uint8_t>(first + 26), 0);
        if (escaped) {
            const int64_t size = buffer_->value<int64_t>(first + 27);
            EXPECT_EQ(size, head + 10 + 8);
            EXPECT_EQ(buffer_->value<int64_t>(first + size - 8), position);
        } else {
            EXPECT_EQ(buffer_->value<uint32_t>(first + 27), static_cast<uint32_t>(head + 10));
            EXPECT_EQ(buffer_->value<int32_t>(first + 31), position);
        }
        load([&](ccArchive& ar) {
            ccPersistent* f = nullptr;
            archivePointer(ar, nullptr, f);
            std::unique_ptr<ccPersistent> owned(f);
            ASSERT_NE(dynamic_cast<Far*>(f), nullptr);
            EXPECT_EQ(dynamic_cast<Far*>(f)->inner.back, back);
        });
    }
}

} // namespace
