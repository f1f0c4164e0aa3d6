// Byte file streams opened from a wide path (UTF-8 on disk), so that any file
// name a client gives can be opened. Failures show only in the stream state.
#pragma once
#include <cstdio>
#include <cwchar>
#include <istream>
#include <locale>
#include <memory>
#include <streambuf>
#include <string>

template <class CharT>
class ccBasic_filebuf;

// The byte file buffer over a C file: the standard byte file buffer's
// operations and results, with the C file's own buffering (setbuf goes to
// setvbuf, on an open file too), opened only with the modes of the table in
// modeText. A locale whose char-to-char conversion is not the identity
// converts each character on its way.
template <>
class ccBasic_filebuf<char> : public std::streambuf {
public:
    // Takes the conversion of the global locale, as imbue does.
    ccBasic_filebuf();
    ccBasic_filebuf(const ccBasic_filebuf&) = delete;
    ccBasic_filebuf& operator=(const ccBasic_filebuf&) = delete;
    ~ccBasic_filebuf() override; // closes

    // The file-mode text for a mode without its at-end bit ("r", "w", "a",
    // "r+", "w+", "a+", each optionally followed by "b"); null for any other
    // combination.
    static const char* modeText(std::ios_base::openmode mode);

    // This buffer, or null when the mode is not in the table, a file is
    // already open, the path holds a null character, the file cannot be
    // opened, or (at end) cannot be positioned at its end.
    ccBasic_filebuf* open(const std::wstring& path, std::ios_base::openmode mode);
    // Ends a pending conversion, then closes the file; null when none is open
    // or a step failed (the file is closed all the same).
    ccBasic_filebuf* close();
    bool is_open() const { return file_ != nullptr; }

protected:
    int_type underflow() override;
    int_type uflow() override;
    int_type pbackfail(int_type c) override;
    int_type overflow(int_type c) override;
    std::streamsize xsgetn(char* s, std::streamsize n) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    // Relative to a character held back, of a conversion whose characters
    // are not all of one width: -1, and the character stays held.
    pos_type seekoff(off_type off, std::ios_base::seekdir way, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
    // No buffer and size 0: unbuffered; else the caller's buffer (which must
    // outlive the file). Null when no file is open or the C file refuses.
    std::streambuf* setbuf(char* s, std::streamsize n) override;
    int sync() override;
    void imbue(const std::locale& loc) override;

private:
    typedef std::codecvt<char, char, std::mbstate_t> Codecvt;

    // A character read (or put back) that the file cannot take back is held
    // here, as the whole get area.
    void holdBack(char c);
    void dropHeld() { setg(nullptr, nullptr, nullptr); }
    int_type readConverted();
    bool writeConverted(char c);
    bool endConversion();

    const Codecvt* convert_ = nullptr; // null: no conversion
    std::mbstate_t state_{};
    char held_ = 0;
    bool wrote_ = false; // since the last positioning: a conversion may need ending
    std::FILE* file_ = nullptr;
};

template <class CharT>
class ccBasic_ifstream;

// An input stream over an embedded ccBasic_filebuf<char>.
template <>
class ccBasic_ifstream<char> : public std::istream {
public:
    ccBasic_ifstream();
    ccBasic_ifstream(const ccBasic_ifstream&) = delete;
    ccBasic_ifstream& operator=(const ccBasic_ifstream&) = delete;
    ~ccBasic_ifstream() override = default;

    ccBasic_filebuf<char>* rdbuf() const { return const_cast<ccBasic_filebuf<char>*>(&buf_); }
    bool is_open() const { return buf_.is_open(); }

    // The input bit is added; failure sets failbit.
    void open(const std::wstring& path, std::ios_base::openmode mode = std::ios_base::in);
    // A failing close (nothing open, or the flush fails) sets failbit.
    void close();

private:
    ccBasic_filebuf<char> buf_;
};

template <class CharT>
class ccBasic_IFstream;

// The input stream that camera files are read through: buffered 4096 bytes
// at a time.
template <>
class ccBasic_IFstream<char> : public ccBasic_ifstream<char> {
public:
    static constexpr std::size_t kBufferSize = 4096;

    // Protection (file sharing) has no meaning here and is ignored.
    explicit ccBasic_IFstream(const std::wstring& path, std::ios_base::openmode mode = std::ios_base::in,
                              int protection = 0);
    ~ccBasic_IFstream() override;

private:
    std::unique_ptr<char[]> buffer_;
};
