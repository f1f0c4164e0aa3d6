#include "std/except/archive.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "std/except/internal/archive_tables.h"
#include "std/except/persist.h"
#include "std/except/utf16.h"

#define cmArchiveError(Name) ccArchive::Name("archive", __LINE__)

namespace {

const unsigned char kNarrowMark = 0x22;

// The core's own table from the first archive on, also one made before the
// start-up; tests swap it.
std::atomic<ccArchiveObjectTableFactory>& tableFactory()
{
    static std::atomic<ccArchiveObjectTableFactory> factory{&ccMakeArchiveObjectTable};
    return factory;
}

const std::streambuf::pos_type kBadPosition(std::streambuf::off_type(-1));

} // namespace

ccArchiveObjectTableFactory ccSetArchiveObjectTableFactory(ccArchiveObjectTableFactory factory)
{
    return tableFactory().exchange(factory);
}

// ---- errors ----

ccArchive::Errors::Errors(const char* file, uint32_t line)
    : file_(ccWidenBytes(file ? file : "")), line_(line)
{
}

void ccArchive::Errors::printOn(std::wostream& os) const
{
    if (file_.empty())
        ccException::printOn(os);
    else if (line_ == 0)
        os << file_;
    else
        os << L"thrown from file: " << file_ << L", line: " << line_;
}

void ccArchive::Errors::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(Errors)))
        return;
    ccArchiveVersion(ar, 0, "archive", __LINE__);
    ccException::archive(ar);
    ar.archive(file_).archive(line_);
    ccArchiveVisit::end(this, typeid(Errors));
}

ccArchive::UnknownType::UnknownType(const char* file, uint32_t line, const std::string& typeName)
    : Errors(file, line), typeName_(typeName)
{
}

void ccArchive::UnknownType::printOn(std::wostream& os) const
{
    os << ccWidenBytes(typeName_);
    if (!file().empty())
        os << L"; thrown from file: " << file() << L", line: " << line();
}

// ---- the archive ----

ccArchive::ccArchive(std::streambuf* buffer, int32_t mode, int32_t byteOrder, bool seekable)
    : buffer_(buffer),
      mode_(mode),
      byteOrder_(mode == storing && byteOrder != littleEndian ? bigEndian : byteOrder),
      swap_(byteOrder != littleEndian),
      seekable_(seekable)
{
    if (!buffer_)
        throw ccBadPointer();
    if (ccArchiveObjectTableFactory make = tableFactory().load())
        table_ = make(*this);
}

ccArchive::~ccArchive() = default;

void ccArchive::archiveHeader()
{
    if (isStoring()) {
        version_ = 1;
        put(static_cast<unsigned char>(version_ << 1 | (seekable_ ? 1 : 0)));
        put(static_cast<unsigned char>(byteOrder_));
    } else {
        int first = get();
        int order = get();
        // The seekable bit is checked before the version.
        if (((first & 1) != 0) != seekable_)
            throw cmArchiveError(BadType);
        if ((first >> 1) > 1)
            throw cmArchiveError(UnknownArchiveVersion);
        if (order != bigEndian && order != littleEndian)
            throw cmArchiveError(BadBuffer);
        version_ = static_cast<uint8_t>(first >> 1);
        byteOrder_ = order;
    }
    swap_ = byteOrder_ != littleEndian;
    if (seekable_ && table_)
        table_->setUpDirectory();
}

int ccArchive::get()
{
    int c = buffer_->sbumpc();
    if (c == std::streambuf::traits_type::eof())
        throw cmArchiveError(Eof);
    return c;
}

void ccArchive::put(unsigned char byte)
{
    if (buffer_->sputc(static_cast<char>(byte)) == std::streambuf::traits_type::eof())
        throw cmArchiveError(BadBuffer);
}

// bytes holds the value least significant byte first; a swapping archive
// transfers the most significant byte first.
void ccArchive::transferNumber(unsigned char* bytes, int size)
{
    for (int i = 0; i < size; ++i) {
        int k = swap_ ? size - 1 - i : i;
        if (isStoring())
            put(bytes[k]);
        else
            bytes[k] = static_cast<unsigned char>(get());
    }
}

void ccArchive::readExact(void* data, size_t size, bool eofError)
{
    if (size == 0)
        return;
    std::streamsize got = buffer_->sgetn(static_cast<char*>(data), static_cast<std::streamsize>(size));
    if (got != static_cast<std::streamsize>(size)) {
        if (eofError)
            throw cmArchiveError(Eof);
        throw cmArchiveError(BadBuffer);
    }
}

void ccArchive::writeExact(const void* data, size_t size)
{
    if (size == 0)
        return;
    std::streamsize put =
        buffer_->sputn(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (put != static_cast<std::streamsize>(size))
        throw cmArchiveError(BadBuffer);
}

namespace {

template <class T>
void toBytes(T v, unsigned char* bytes)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<unsigned char>(static_cast<unsigned long long>(v) >> (8 * i));
}

template <class U>
U fromBytes(const unsigned char* bytes)
{
    unsigned long long v = 0;
    for (size_t i = 0; i < sizeof(U); ++i)
        v |= static_cast<unsigned long long>(bytes[i]) << (8 * i);
    return static_cast<U>(v);
}

} // namespace

#define cmTransferInteger(T, U)                                                                  \
    ccArchive& ccArchive::archive(T& v)                                                          \
    {                                                                                            \
        unsigned char bytes[sizeof(T)];                                                          \
        if (isStoring())                                                                         \
            toBytes(static_cast<U>(v), bytes);                                                   \
        transferNumber(bytes, sizeof(T));                                                        \
        if (isLoading())                                                                         \
            v = static_cast<T>(fromBytes<U>(bytes));                                             \
        return *this;                                                                            \
    }

cmTransferInteger(char, unsigned char)
cmTransferInteger(signed char, unsigned char)
cmTransferInteger(unsigned char, unsigned char)
cmTransferInteger(short, unsigned short)
cmTransferInteger(unsigned short, unsigned short)
cmTransferInteger(int32_t, uint32_t)
cmTransferInteger(uint32_t, uint32_t)
cmTransferInteger(long long, unsigned long long)
cmTransferInteger(unsigned long long, unsigned long long)
#undef cmTransferInteger

ccArchive& ccArchive::archive(bool& v)
{
    // The destination of a load may hold no valid bool yet: read it only
    // when storing.
    unsigned char b = 0;
    if (isStoring())
        b = v ? 1 : 0;
    archive(b);
    if (isLoading())
        v = b != 0;
    return *this;
}

// The IEEE bit pattern as a 64-bit number: in the archive's byte order this
// is the two 32-bit halves, most significant half first when swapping.
ccArchive& ccArchive::archive(double& v)
{
    static_assert(sizeof(double) == sizeof(unsigned long long), "double is 64 bits");
    unsigned long long bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    archive(bits);
    if (isLoading())
        std::memcpy(&v, &bits, sizeof bits);
    return *this;
}

ccArchive& ccArchive::archiveBytes(void* data, int32_t length)
{
    if (length < 0)
        throw cmArchiveError(BadBuffer);
    if (isStoring())
        writeExact(data, static_cast<size_t>(length));
    else
        readExact(data, static_cast<size_t>(length), true);
    return *this;
}

// ---- strings ----
//
// Length (one byte below 0x80, else two bytes most significant first with
// bit 15 set), an opening mark ('"' for a narrow body, FF FE for a wide one),
// the body, and the same mark again.

void ccArchive::putLength(size_t length)
{
    if (length < 0x80) {
        put(static_cast<unsigned char>(length));
    } else {
        put(static_cast<unsigned char>((length >> 8) | 0x80));
        put(static_cast<unsigned char>(length & 0xFF));
    }
}

size_t ccArchive::getLength()
{
    size_t length = static_cast<size_t>(get());
    if (length & 0x80)
        length = (length & 0x7F) << 8 | static_cast<size_t>(get());
    return length;
}

// Loads a body of either form. Returns true for a narrow body (in narrow),
// false for a wide one (in units, in host order).
bool ccArchive::loadStringBody(std::string& narrow, std::u16string& units)
{
    size_t length = getLength();
    int mark = get();
    if (mark == kNarrowMark) {
        narrow.assign(length, '\0');
        readExact(&narrow[0], length, false);
        if (get() != kNarrowMark)
            throw cmArchiveError(BadType);
        return true;
    }
    int second = get();
    bool big;
    if (mark == 0xFF && second == 0xFE)
        big = false;
    else if (mark == 0xFE && second == 0xFF)
        big = true;
    else
        throw cmArchiveError(BadType);

    std::vector<unsigned char> raw(2 * length);
    readExact(raw.data(), raw.size(), false);
    units.assign(length, u'\0');
    for (size_t i = 0; i < length; ++i) {
        unsigned lo = raw[2 * i], hi = raw[2 * i + 1];
        units[i] = static_cast<char16_t>(big ? (lo << 8 | hi) : (hi << 8 | lo));
    }
    unsigned char closing[2];
    readExact(closing, 2, false);
    if (closing[0] != mark || closing[1] != second)
        throw cmArchiveError(BadType);
    return false;
}

ccArchive& ccArchive::archive(std::string& v)
{
    if (isStoring()) {
        // Refused before anything is written: a longer length would not fit.
        if (v.size() > maxStringLength)
            throw cmArchiveError(BadBuffer);
        putLength(v.size());
        put(kNarrowMark);
        writeExact(v.data(), v.size());
        put(kNarrowMark);
        return *this;
    }
    std::string narrow;
    std::u16string units;
    if (loadStringBody(narrow, units))
        v.swap(narrow);
    else
        v = ccNarrowBytes(ccFromUtf16(units));
    return *this;
}

ccArchive& ccArchive::archive(std::wstring& v)
{
    if (isStoring()) {
        std::u16string units = ccToUtf16(v);
        if (units.size() > maxStringLength)
            throw cmArchiveError(BadBuffer);
        putLength(units.size());
        std::vector<unsigned char> bytes;
        bytes.reserve(2 * units.size() + 4);
        bytes.push_back(0xFF);
        bytes.push_back(0xFE);
        for (char16_t u : units) {
            bytes.push_back(static_cast<unsigned char>(u & 0xFF));
            bytes.push_back(static_cast<unsigned char>(u >> 8));
        }
        bytes.push_back(0xFF);
        bytes.push_back(0xFE);
        writeExact(bytes.data(), bytes.size());
        return *this;
    }
    std::string narrow;
    std::u16string units;
    if (loadStringBody(narrow, units))
        v = ccWidenBytes(narrow);
    else
        v = ccFromUtf16(units);
    return *this;
}

// ---- positioning ----

int64_t ccArchive::tell()
{
    std::ios_base::openmode side = isStoring() ? std::ios_base::out : std::ios_base::in;
    return static_cast<int64_t>(buffer_->pubseekoff(0, std::ios_base::cur, side));
}

// Every repositioning first records how far the archive has been.
void ccArchive::raiseHighWater()
{
    int64_t here = tell();
    if (here > highWater_)
        highWater_ = here;
}

void ccArchive::seekSide(int64_t position, std::ios_base::openmode side)
{
    if (buffer_->pubseekpos(std::streambuf::pos_type(position), side) == kBadPosition)
        throw cmArchiveError(BadBuffer);
}

void ccArchive::seek(int64_t position)
{
    if (!seekable_)
        throw cmArchiveError(NotSeekable);
    raiseHighWater();
    seekSide(position, isStoring() ? std::ios_base::out : std::ios_base::in);
}

void ccArchive::seekRelative(int64_t offset, std::ios_base::seekdir direction)
{
    if (!seekable_)
        throw cmArchiveError(NotSeekable);
    raiseHighWater();
    std::ios_base::openmode side = isStoring() ? std::ios_base::out : std::ios_base::in;
    if (buffer_->pubseekoff(offset, direction, side) == kBadPosition)
        throw cmArchiveError(BadBuffer);
}

void ccArchive::setMode(int32_t mode)
{
    if (!seekable_)
        throw cmArchiveError(NotSeekable);
    int64_t here = tell();
    raiseHighWater();
    bool toStoring = mode == storing;
    if (toStoring != isStoring()) {
        if (toStoring) {
            seekSide(here, std::ios_base::out);
        } else {
            // The put side at the mark first, so that everything written so
            // far lies inside what the get side may read.
            seekSide(highWater_, std::ios_base::out);
            seekSide(highWater_, std::ios_base::in);
            seekSide(here, std::ios_base::in);
        }
    }
    // Same direction: nothing to carry over. A read-only buffer has no put
    // side to position, and callers switch to loading without knowing.
    mode_ = mode;
}

void ccArchive::flush()
{
    try {
        buffer_->pubsync();
    } catch (const ccException&) {
    }
    try {
        if (table_)
            table_->finishDirectory();
    } catch (const ccException&) {
    }
}

int64_t ccArchive::firstRecordPosition()
{
    if (!seekable_)
        throw cmArchiveError(NotSeekable);
    // Only a test's factory makes archives without a table.
    if (!table_)
        throw ccInvariantFailure();
    return table_->firstRecordPosition();
}

// ---- memory archives ----

cc_strstreambuf::cc_strstreambuf(const char* data, size_t size) : size_(size)
{
    char* p = const_cast<char*>(data); // the get area is never written through
    setg(p, p, p + size);
}

std::streambuf::pos_type cc_strstreambuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                  std::ios_base::openmode which)
{
    if ((which & std::ios_base::out) || !(which & std::ios_base::in))
        return kBadPosition;
    int64_t size = static_cast<int64_t>(size_);
    int64_t base = direction == std::ios_base::beg   ? 0
                   : direction == std::ios_base::cur ? static_cast<int64_t>(gptr() - eback())
                                                     : size;
    // Compared without forming base + offset, which could overflow.
    if (offset < -base || offset > size - base)
        return kBadPosition;
    int64_t position = base + offset;
    setg(eback(), eback() + position, egptr());
    return pos_type(position);
}

std::streambuf::pos_type cc_strstreambuf::seekpos(pos_type position, std::ios_base::openmode which)
{
    return seekoff(off_type(position), std::ios_base::beg, which);
}

cc_detail::ccMemoryArchiveBlock::ccMemoryArchiveBlock(const void* data, int32_t size, bool takeOwnership)
    : owned(takeOwnership ? static_cast<const char*>(data) : nullptr)
{
    // A size must describe the block exactly: nothing is read past it.
    if (size < 0 || (data == nullptr && size != 0))
        throw cmArchiveError(BadBuffer);
    buffer.reset(new cc_strstreambuf(static_cast<const char*>(data), static_cast<size_t>(size)));
}

ccMemoryArchive::ccMemoryArchive(const void* data, int32_t size, bool seekable, bool takeOwnership)
    : ccMemoryArchiveBlock(data, size, takeOwnership), ccArchive(buffer.get(), loading, littleEndian, seekable)
{
    archiveHeader();
}

ccMemoryArchive::~ccMemoryArchive()
{
    try {
        flush();
    } catch (...) {
    }
}
