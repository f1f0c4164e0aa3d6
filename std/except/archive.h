// The library's binary archive.
//
// One ccArchive either stores values into or loads values from a narrow
// stream buffer, with one routine per value type that serves both
// directions, so a class writes a single routine for its fields. Multi-byte
// numbers follow the archive's byte order, written and read one byte at a
// time so that the result does not depend on the host. Wide text travels as
// UTF-16 code units, least significant byte first.
//
// Widths are those of the format, not of this platform: "long" fields are
// int32_t/uint32_t and 64-bit fields are long long. The overloads for long
// and unsigned long are deleted, because here they are 64 bits wide and a
// field ported as long would silently take 8 bytes in place of 4.
#pragma once
#include <cstdint>
#include <ios>
#include <memory>
#include <streambuf>
#include <string>
#include <typeinfo>

#include "std/except/except.h"

class ccArchive;

// The object table of an archive: object numbers, shared references and,
// in seekable archives, the record directory inside the stream. The archive
// owns one and calls it at the points below; the records themselves are
// built on top of the archive's primitives.
class ccArchiveObjectTable {
public:
    virtual ~ccArchiveObjectTable() = default;
    // From archiveHeader of a seekable archive, right after the header:
    // writes or reads the directory's preamble.
    virtual void setUpDirectory() = 0;
    // From flush: completes what the directory still owes the stream.
    virtual void finishDirectory() = 0;
    // From firstRecordPosition: the position of the first reference record
    // after the preamble (the archive is loading and seekable).
    virtual int64_t firstRecordPosition() = 0;
};

class ccArchive {
public:
    // Every archive failure. Carries the throwing source's name (without its
    // extension) and line.
    class Errors : public ccException {
    public:
        Errors() = default;
        Errors(const char* file, uint32_t line);

        void printOn(std::wostream& os) const override;
        void archive(ccArchive& ar) override;
        const char* storedTypeName() const override { return "class ccArchive::Errors"; }

        const std::wstring& file() const { return file_; }
        uint32_t line() const { return line_; }

    private:
        std::wstring file_;
        uint32_t line_ = 0;
    };

    // Each leaf archives its own version byte (an unknown one names the
    // leaf, "ccArchive::Eof", line 0) in front of the Errors level.
#define cmDeclareArchiveError(Name, Code) cmDeclareException(Name, Errors, Code, "class ccArchive::" #Name)

    // Read past the end of the stream; a raw block read came back short.
    cmDeclareArchiveError(Eof, 0x10000100u);
    // The stream buffer refused a write or a repositioning; a string body
    // came back short; a bad byte-order byte in the header; a string too
    // long for the format, or a negative block length or memory size.
    cmDeclareArchiveError(BadBuffer, 0x10000101u);
    // Header's seekable bit differs from the archive's; a bad string mark.
    cmDeclareArchiveError(BadType, 0x10000102u);
    cmDeclareArchiveError(BadContent, 0x10000103u);
    cmDeclareArchiveError(NotFound, 0x10000104u);
    cmDeclareArchiveError(Duplicate, 0x10000105u);
    cmDeclareArchiveError(UnknownVersion, 0x10000107u);
    cmDeclareArchiveError(BadFile, 0x10000109u);
    cmDeclareArchiveError(UnknownArchiveVersion, 0x1000010Au);
    cmDeclareArchiveError(CannotWriteToOldArchive, 0x1000010Bu);
    cmDeclareArchiveError(NotSeekable, 0x1000010Cu);
#undef cmDeclareArchiveError

    // A type name without a registered factory. The name is not archived.
    class UnknownType : public Errors {
    public:
        using Errors::Errors;
        UnknownType() = default;
        UnknownType(const char* file, uint32_t line, const std::string& typeName);

        void printOn(std::wostream& os) const override;
        const std::string& typeName() const { return typeName_; }

        cmExceptionBody(UnknownType, Errors, 0x10000106u, "class ccArchive::UnknownType")

    private:
        std::string typeName_;
    };

    enum Mode : int32_t { loading = 0, storing = 1 };
    enum ByteOrder : int32_t { bigEndian = 0, littleEndian = 1 };

    // Does not touch the stream: the owner calls archiveHeader before any
    // value. mode 1 stores, anything else loads. A storing archive with a
    // byte order other than 1 is big-endian (its header says 0).
    ccArchive(std::streambuf* buffer, int32_t mode, int32_t byteOrder, bool seekable);
    virtual ~ccArchive();
    ccArchive(const ccArchive&) = delete;
    ccArchive& operator=(const ccArchive&) = delete;

    // Writes, or reads and checks, the two header bytes; then a seekable
    // archive's object table sets up its directory.
    void archiveHeader();

    ccArchive& archive(bool& v);
    ccArchive& archive(char& v);
    ccArchive& archive(signed char& v);
    ccArchive& archive(unsigned char& v);
    ccArchive& archive(short& v);
    ccArchive& archive(unsigned short& v);
    ccArchive& archive(int32_t& v);
    ccArchive& archive(uint32_t& v);
    ccArchive& archive(long long& v);
    ccArchive& archive(unsigned long long& v);
    ccArchive& archive(double& v);
    ccArchive& archive(std::string& v);
    ccArchive& archive(std::wstring& v);
    ccArchive& archive(long&) = delete;
    ccArchive& archive(unsigned long&) = delete;
    ccArchive& archive(wchar_t&) = delete;
    // length bytes unchanged, no length stored; a negative length is refused.
    ccArchive& archiveBytes(void* data, int32_t length);

    // Position of the side in use (get side loading, put side storing).
    int64_t tell();
    void seek(int64_t position);
    void seekRelative(int64_t offset, std::ios_base::seekdir direction);
    void skip1() { seekRelative(1, std::ios_base::cur); }
    void skip4() { seekRelative(4, std::ios_base::cur); }
    // Switches a seekable archive between storing and loading; the position
    // carries over, and everything written so far becomes readable.
    void setMode(int32_t mode);
    // Never throws a ccException: destructors call it.
    void flush();
    // Position of the first reference record after a seekable archive's
    // preamble; the archive must be loading, and is left behind that record.
    int64_t firstRecordPosition();

    bool isStoring() const { return mode_ == storing; }
    bool isLoading() const { return mode_ != storing; }
    int32_t mode() const { return mode_; }
    int32_t byteOrder() const { return byteOrder_; }
    bool swaps() const { return swap_; }
    bool isSeekable() const { return seekable_; }
    uint8_t version() const { return version_; }
    int64_t highWaterMark() const { return highWater_; }
    std::streambuf* streamBuffer() const { return buffer_; }
    ccArchiveObjectTable* objectTable() const { return table_.get(); }

    // Longest string the format carries, in UTF-16 code units.
    static constexpr size_t maxStringLength = 0x7FFF;

private:
    int get();
    void put(unsigned char byte);
    void transferNumber(unsigned char* bytes, int size);
    void readExact(void* data, size_t size, bool eofError);
    void writeExact(const void* data, size_t size);
    void putLength(size_t length);
    size_t getLength();
    bool loadStringBody(std::string& narrow, std::u16string& units);
    void raiseHighWater();
    void seekSide(int64_t position, std::ios_base::openmode side);

    std::streambuf* buffer_;
    int32_t mode_;
    int32_t byteOrder_;
    bool swap_;
    bool seekable_;
    uint8_t version_ = 1;
    int64_t highWater_ = 0;
    std::unique_ptr<ccArchiveObjectTable> table_;
};

// Loads from a caller's block: a read-only stream buffer over exactly that
// block, which can be positioned anywhere inside it and never reads past it.
class cc_strstreambuf : public std::streambuf {
public:
    cc_strstreambuf(const char* data, size_t size);

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    size_t size_;
};

namespace cc_detail {
// Kept in front of the archive part so that the block and its stream buffer
// outlive the object table.
struct ccMemoryArchiveBlock {
    ccMemoryArchiveBlock(const void* data, int32_t size, bool takeOwnership);
    std::unique_ptr<const char[]> owned;
    std::unique_ptr<cc_strstreambuf> buffer;
};
} // namespace cc_detail

// A loading archive over a block of size bytes. The header is read at once.
// With takeOwnership the block (made with new[] of a byte type) is freed with
// the archive, also when the constructor throws. A negative size raises
// ccArchive::BadBuffer; a size of 0 is an empty block.
class ccMemoryArchive : private cc_detail::ccMemoryArchiveBlock, public ccArchive {
public:
    ccMemoryArchive(const void* data, int32_t size, bool seekable, bool takeOwnership);
    ~ccMemoryArchive() override;
};
