// Byte file streams opened from a wide path (UTF-8 on disk), so that any file
// name a client gives can be opened. Failures show only in the stream state.
#pragma once
#include <fstream>
#include <istream>
#include <memory>
#include <string>

template <class CharT>
class ccBasic_filebuf;

// The standard byte file buffer, opened only with the modes of the table in
// ccBasic_filebuf<char>::modeText.
template <>
class ccBasic_filebuf<char> : public std::filebuf {
public:
    ccBasic_filebuf() = default;

    // The file-mode text for a mode without its at-end bit ("r", "w", "a",
    // "r+", "w+", "a+", each optionally followed by "b"); null for any other
    // combination.
    static const char* modeText(std::ios_base::openmode mode);

    // This buffer, or null when the mode is not in the table, a file is
    // already open, the path holds a null character, the file cannot be
    // opened, or (at end) cannot be positioned at its end.
    ccBasic_filebuf* open(const std::wstring& path, std::ios_base::openmode mode);

    // The standard narrow-path opens would bypass the table.
    std::filebuf* open(const char*, std::ios_base::openmode) = delete;
    std::filebuf* open(const std::string&, std::ios_base::openmode) = delete;
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
