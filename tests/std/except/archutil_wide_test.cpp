// Records more than 2 GB apart and extents of 4 GB, over a sparse stream:
// only the pages written are kept, everything else reads as zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <streambuf>
#include <vector>

#include "tests/std/except/archutil_support.h"

namespace {

using namespace archive_support;
using namespace archutil_support;

class SparseBuffer : public std::streambuf {
public:
    Bytes read(int64_t at, size_t n) const
    {
        Bytes out(n);
        for (size_t i = 0; i < n; ++i)
            out[i] = byteAt(at + static_cast<int64_t>(i));
        return out;
    }
    void poke(int64_t at, unsigned char byte) { page(at)[static_cast<size_t>(at % kPage)] = byte; }

protected:
    // The archive puts one byte at a time, never eof.
    int_type overflow(int_type c) override
    {
        page(put_)[static_cast<size_t>(put_ % kPage)] = static_cast<unsigned char>(c);
        end_ = std::max(end_, ++put_);
        return c;
    }
    int_type underflow() override { return get_ < end_ ? byteAt(get_) : traits_type::eof(); }
    int_type uflow() override { return get_ < end_ ? byteAt(get_++) : traits_type::eof(); }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override
    {
        const bool in = which & std::ios_base::in;
        const int64_t to = off + (dir == std::ios_base::beg ? 0 : dir == std::ios_base::end ? end_ : in ? get_ : put_);
        if (to < 0)
            return pos_type(off_type(-1));
        return pos_type((in ? get_ : put_) = to);
    }
    pos_type seekpos(pos_type p, std::ios_base::openmode which) override { return seekoff(p, std::ios_base::beg, which); }

private:
    static constexpr int64_t kPage = 4096;
    unsigned char byteAt(int64_t at) const
    {
        auto it = pages_.find(at / kPage);
        return it == pages_.end() ? 0 : it->second[static_cast<size_t>(at % kPage)];
    }
    std::vector<unsigned char>& page(int64_t at)
    {
        std::vector<unsigned char>& p = pages_[at / kPage];
        p.resize(kPage);
        return p;
    }

    std::map<int64_t, std::vector<unsigned char>> pages_;
    int64_t get_ = 0, put_ = 0, end_ = 0;
};

// Contents: a distance d, then a jump over d bytes; for a negative d
// instead a null pointer stored -d bytes before the end of the contents.
class Mover : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestMover";
    static ccPersistent* cmCreate() { return new (std::nothrow) Mover; }
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        archiveLevel(this, ar, "ccTestMover", [&] {
            ar.archive(d);
            if (d >= 0)
                return ar.seekRelative(d, std::ios_base::cur);
            const int64_t end = ar.tell();
            ar.seek(end + d);
            Node* none = nullptr;
            archivePointer(ar, none, none);
            ar.seek(end);
        });
    }
    long long d = 0;
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
        static const bool registered = (ccRegisterPersistent<Mover>(), true);
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

// Movers of the given distances, stored and loaded back through pointers.
void storeMovers(ccArchive& ar, std::initializer_list<long long> distances)
{
    for (long long d : distances) {
        Mover m;
        m.d = d;
        storeOne(ar, &m);
    }
}

std::vector<long long> loadMovers(ccArchive& ar, size_t n)
{
    std::vector<long long> distances;
    for (size_t i = 0; i < n; ++i) {
        std::unique_ptr<Mover> m(loadOne<Mover>(ar));
        distances.push_back(m ? m->d : -1);
    }
    return distances;
}

// The second record, 4 GB after the first, takes the reference escape
// either way: the first keeps version 0 under the wide tag, a 64-bit
// position A over both of its 32-bit fields; the second, version 1 under
// the wide tag, leads back past it; then 64-bit records with the usual tag.
TEST_F(WidePositions, SizeOf0xFFFFFFFFFitsAndOneMoreTakesTheEscape)
{
    const int64_t head = classBlockLength(Mover::kStoredName);
    const long long fits = 0xFFFFFFFFLL - head - 2 - 8;
    Node after(5);
    store([&](ccArchive& ar) {
        storeMovers(ar, {fits, 0});
        storeOne(ar, &after);
    });
    const int64_t r2 = kFirstBlock + 0xFFFFFFFFLL;
    const int64_t r3 = r2 + 26 + head + 8 + 10;
    EXPECT_EQ(buffer_->read(kFirstRecord, 18), reference(1, 1, r2 - kFirstRecord, 0, 0, 0x55));
    EXPECT_EQ(buffer_->read(kFirstBlock, 35), classBlock(1, {}, r2 + 26 - kFirstBlock, 28 - kFirstBlock, 0xFFFFFFFFu));
    EXPECT_EQ(buffer_->read(r2, 26), reference(2, 1, r3 - r2, 73 - r2, 1, 0x55));
    EXPECT_EQ(buffer_->read(r3, 26), reference(3, 1, 0, r2 - r3, 1));
    load([&](ccArchive& ar) {
        EXPECT_EQ(loadMovers(ar, 2), (std::vector<long long>{fits, 0}));
        Node* n = loadOne<Node>(ar);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->value, 5);
        ar.seek(0);
        EXPECT_EQ(ar.firstRecordPosition(), kFirstRecord);
    });

    // One more: the wide tag, the size form still 0 with a 64-bit size, and
    // the position in the extent's last 8 bytes (no record inside).
    buffer_.reset(new SparseBuffer);
    const long long extent = fits + 1;
    store([&](ccArchive& ar) { storeMovers(ar, {extent, 0}); });
    const int64_t size = 0x100000000LL + 8;
    const int64_t next = kFirstBlock + size;
    const int64_t second = next + 26;
    // From then on 64-bit records and class blocks; the links between the
    // two blocks, more than 4 GB, keep their high halves.
    EXPECT_EQ(buffer_->read(kFirstBlock, 35),
              cat({link({0x6F, 0x8B, 0x68, 0x45}, 1, second - kFirstBlock, 28 - kFirstBlock), {0}, le(size, 8)}));
    EXPECT_EQ(buffer_->read(next - 8, 8), le(0, 8));
    EXPECT_EQ(buffer_->read(next, 5), (Bytes{0x4F, 0xE5, 0x70, 0x55, 0x01}));
    EXPECT_EQ(buffer_->read(second, 43), classBlock(2, {}, 0, kFirstBlock - second, head + 8 + 10, 0, 1));
    load([&](ccArchive& ar) { EXPECT_EQ(loadMovers(ar, 2), (std::vector<long long>{extent, 0})); });

    // The second record made a reference found through the chain: it
    // follows the first block's 64-bit link.
    buffer_->poke(next + 9, 2);
    load([&](ccArchive& ar) {
        ar.seek(next);
        EXPECT_EQ(loadMovers(ar, 1), (std::vector<long long>{0}));
        EXPECT_EQ(ar.tell(), second + head + 8 + 10); // size form 1: 8 more bytes
    });
}

// The class block's position of the first record inside, which here lies
// before the block. Embedded objects have no records of their own.
TEST_F(WidePositions, PositionOfMinus2147483647FitsAndOneMoreTakesTheEscape)
{
    const int64_t head = classBlockLength(Mover::kStoredName);
    const long long gap = 3LL << 30;
    const int64_t first = kFirstRecord + 4 + head + 10 + gap + 4;
    for (const int64_t position : {-2147483647LL, -2147483648LL}) {
        SCOPED_TRACE(position);
        buffer_.reset(new SparseBuffer);
        Mover spacer, back;
        spacer.d = gap;
        back.d = position - head - 10; // the contents end at first + head + 10
        store([&](ccArchive& ar) {
            archiveEmbedded(ar, spacer);
            archiveEmbedded(ar, back);
        });
        const bool escaped = position < -2147483647LL;
        EXPECT_EQ(buffer_->read(first, 4), (Bytes{0x6F, 0x8B, 0x68, uint8_t(escaped ? 0x45 : 0x44)}));
        if (escaped) { // the position in the extent's last 8 bytes
            EXPECT_EQ(buffer_->read(first + 26, 9), cat({{0}, le(head + 10 + 8, 8)}));
            EXPECT_EQ(buffer_->read(first + head + 10, 8), le(position, 8));
        } else {
            EXPECT_EQ(buffer_->read(first + 26, 9), cat({{0}, le(head + 10, 4), le(position, 4)}));
        }
        load([&](ccArchive& ar) {
            Mover a, b;
            archiveEmbedded(ar, a);
            archiveEmbedded(ar, b);
            EXPECT_EQ(a.d, gap);
            EXPECT_EQ(b.d, back.d);
        });
    }
}

} // namespace
