#include "std/filestream.h"

#include <sys/types.h>

#include <new>

#include "platform/text.h"

const char* ccBasic_filebuf<char>::modeText(std::ios_base::openmode mode)
{
    using std::ios_base;
    static const struct {
        ios_base::openmode mode;
        const char* text;
        const char* binary;
    } kTable[] = {
        {ios_base::in, "r", "rb"},
        {ios_base::out, "w", "wb"},
        {ios_base::out | ios_base::trunc, "w", "wb"},
        {ios_base::out | ios_base::app, "a", "ab"},
        {ios_base::in | ios_base::out, "r+", "r+b"},
        {ios_base::in | ios_base::out | ios_base::trunc, "w+", "w+b"},
        {ios_base::in | ios_base::out | ios_base::app, "a+", "a+b"},
    };
    const bool binary = (mode & ios_base::binary) != 0;
    // Any other bit left over matches no row.
    mode &= ~(ios_base::ate | ios_base::binary);
    for (const auto& row : kTable)
        if (row.mode == mode)
            return binary ? row.binary : row.text;
    return nullptr;
}

ccBasic_filebuf<char>::ccBasic_filebuf()
{
    imbue(getloc());
}

ccBasic_filebuf<char>::~ccBasic_filebuf()
{
    // Destructors never throw; a failed close has nobody to tell.
    try {
        close();
    } catch (...) {
    }
}

ccBasic_filebuf<char>* ccBasic_filebuf<char>::open(const std::wstring& path, std::ios_base::openmode mode)
{
    // A name cut short at a null character, or one whose characters UTF-8
    // cannot hold (a lone surrogate would become U+FFFD), would open another
    // file.
    const char* text = modeText(mode);
    std::string name;
    try {
        if (!text || is_open() || !plat::systemNameFromWide(path, &name))
            return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    std::FILE* file = std::fopen(name.c_str(), text);
    if (file == nullptr)
        return nullptr;
    if ((mode & std::ios_base::ate) != 0 && ::fseeko(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        return nullptr;
    }
    file_ = file;
    state_ = std::mbstate_t();
    wrote_ = false;
    dropHeld();
    return this;
}

ccBasic_filebuf<char>* ccBasic_filebuf<char>::close()
{
    if (file_ == nullptr)
        return nullptr;
    bool closed = false;
    try {
        closed = endConversion();
    } catch (...) {
        // The file is closed below whatever the facet did.
    }
    closed = std::fclose(file_) == 0 && closed;
    file_ = nullptr;
    state_ = std::mbstate_t();
    wrote_ = false;
    dropHeld();
    return closed ? this : nullptr;
}

void ccBasic_filebuf<char>::holdBack(char c)
{
    held_ = c;
    setg(&held_, &held_, &held_ + 1);
}

ccBasic_filebuf<char>::int_type ccBasic_filebuf<char>::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    const int_type c = uflow();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return c;
    // The character stays to be read: the file takes a byte back, a
    // converted character is held.
    if (convert_ != nullptr || std::ungetc(c, file_) == EOF)
        holdBack(traits_type::to_char_type(c));
    return c;
}

ccBasic_filebuf<char>::int_type ccBasic_filebuf<char>::uflow()
{
    if (gptr() < egptr()) {
        const char c = *gptr();
        dropHeld();
        return traits_type::to_int_type(c);
    }
    dropHeld();
    if (file_ == nullptr)
        return traits_type::eof();
    if (convert_ != nullptr)
        return readConverted();
    const int c = std::fgetc(file_);
    return c == EOF ? traits_type::eof() : traits_type::to_int_type(static_cast<char>(c));
}

ccBasic_filebuf<char>::int_type ccBasic_filebuf<char>::pbackfail(int_type c)
{
    const int_type eof = traits_type::eof();
    if (gptr() > eback() && (traits_type::eq_int_type(c, eof) || traits_type::to_char_type(c) == gptr()[-1])) {
        gbump(-1);
        return traits_type::not_eof(c);
    }
    if (file_ == nullptr)
        return eof;
    if (traits_type::eq_int_type(c, eof)) {
        // Back over the last byte read, when a byte is a character; the
        // answer is that byte, as the standard buffer gives it.
        if (convert_ != nullptr || gptr() < egptr() || ::fseeko(file_, -1, SEEK_CUR) != 0)
            return eof;
        const int back = std::fgetc(file_);
        if (back == EOF || std::ungetc(back, file_) == EOF)
            return eof;
        return traits_type::to_int_type(static_cast<char>(back));
    }
    if (convert_ == nullptr && gptr() == egptr() && std::ungetc(c, file_) != EOF)
        return c;
    if (gptr() < egptr())
        return eof; // one character is held already
    holdBack(traits_type::to_char_type(c));
    return c;
}

ccBasic_filebuf<char>::int_type ccBasic_filebuf<char>::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    if (file_ == nullptr)
        return traits_type::eof();
    const char byte = traits_type::to_char_type(c);
    const bool written = convert_ != nullptr ? writeConverted(byte) : std::fputc(byte, file_) != EOF;
    return written ? c : traits_type::eof();
}

std::streamsize ccBasic_filebuf<char>::xsgetn(char* s, std::streamsize n)
{
    std::streamsize got = 0;
    if (n > 0 && gptr() < egptr()) {
        *s = *gptr();
        dropHeld();
        got = 1;
    }
    if (file_ == nullptr || convert_ != nullptr)
        return got + std::streambuf::xsgetn(s + got, n - got);
    return got + static_cast<std::streamsize>(std::fread(s + got, 1, static_cast<size_t>(n - got), file_));
}

std::streamsize ccBasic_filebuf<char>::xsputn(const char* s, std::streamsize n)
{
    if (file_ == nullptr || n <= 0)
        return 0;
    if (convert_ != nullptr)
        return std::streambuf::xsputn(s, n);
    return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<size_t>(n), file_));
}

ccBasic_filebuf<char>::pos_type ccBasic_filebuf<char>::seekoff(off_type off, std::ios_base::seekdir way,
                                                                 std::ios_base::openmode)
{
    const pos_type failed(off_type(-1));
    if (file_ == nullptr)
        return failed;
    // A character of variable width cannot be counted in bytes.
    const int width = convert_ != nullptr ? convert_->encoding() : 1;
    if (width <= 0 && off != 0)
        return failed;
    if (way == std::ios_base::cur && gptr() < egptr()) {
        // The held character stands one character before the file's
        // position; one of variable width has no size to go back by.
        if (width <= 0)
            return failed;
        if (off == 0) {
            // Only a question: the character stays held, to be read next.
            const off_type at = ::ftello(file_);
            if (at < width)
                return failed;
            pos_type result(at - width);
            result.state(state_);
            return result;
        }
        off -= 1;
    }
    dropHeld();
    if (!endConversion())
        return failed;
    const int whence = way == std::ios_base::beg ? SEEK_SET : way == std::ios_base::cur ? SEEK_CUR : SEEK_END;
    // Also between reading and writing, which the C file needs.
    if (::fseeko(file_, off * (width > 0 ? width : 1), whence) != 0)
        return failed;
    const off_type at = ::ftello(file_);
    if (at < 0)
        return failed;
    pos_type result(at);
    result.state(state_);
    return result;
}

ccBasic_filebuf<char>::pos_type ccBasic_filebuf<char>::seekpos(pos_type pos, std::ios_base::openmode)
{
    const pos_type failed(off_type(-1));
    if (file_ == nullptr)
        return failed;
    dropHeld();
    if (!endConversion() || ::fseeko(file_, off_type(pos), SEEK_SET) != 0)
        return failed;
    state_ = pos.state();
    return pos;
}

std::streambuf* ccBasic_filebuf<char>::setbuf(char* s, std::streamsize n)
{
    if (file_ == nullptr || n < 0)
        return nullptr;
    const int mode = s == nullptr && n == 0 ? _IONBF : _IOFBF;
    return std::setvbuf(file_, s, mode, static_cast<size_t>(n)) == 0 ? this : nullptr;
}

int ccBasic_filebuf<char>::sync()
{
    return file_ == nullptr || std::fflush(file_) == 0 ? 0 : -1;
}

void ccBasic_filebuf<char>::imbue(const std::locale& loc)
{
    const Codecvt& facet = std::use_facet<Codecvt>(loc);
    convert_ = facet.always_noconv() ? nullptr : &facet;
}

ccBasic_filebuf<char>::int_type ccBasic_filebuf<char>::readConverted()
{
    // Bytes are taken one at a time until they make a character; what the
    // facet left over goes back to the file.
    constexpr size_t kLongest = 64;
    std::string bytes;
    while (bytes.size() < kLongest) {
        const int b = std::fgetc(file_);
        if (b == EOF)
            return traits_type::eof();
        bytes.push_back(static_cast<char>(b));
        std::mbstate_t state = state_;
        const char* inNext = bytes.data();
        char out = 0;
        char* outNext = &out;
        const auto result =
            convert_->in(state, bytes.data(), bytes.data() + bytes.size(), inNext, &out, &out + 1, outNext);
        if (result == std::codecvt_base::noconv)
            return traits_type::to_int_type(bytes[0]);
        if (result == std::codecvt_base::error)
            return traits_type::eof();
        if (outNext != &out) {
            state_ = state;
            for (const char* p = bytes.data() + bytes.size(); p != inNext;)
                std::ungetc(static_cast<unsigned char>(*--p), file_);
            return traits_type::to_int_type(out);
        }
    }
    return traits_type::eof();
}

bool ccBasic_filebuf<char>::writeConverted(char c)
{
    char out[32];
    char* outNext = out;
    const char* inNext = &c;
    const auto result = convert_->out(state_, &c, &c + 1, inNext, out, out + sizeof out, outNext);
    if (result == std::codecvt_base::noconv)
        return std::fputc(c, file_) != EOF;
    if (result == std::codecvt_base::error || inNext != &c + 1)
        return false;
    wrote_ = true;
    const auto count = static_cast<size_t>(outNext - out);
    return std::fwrite(out, 1, count, file_) == count;
}

bool ccBasic_filebuf<char>::endConversion()
{
    if (convert_ == nullptr || !wrote_)
        return true;
    wrote_ = false;
    char out[32];
    char* outNext = out;
    const auto result = convert_->unshift(state_, out, out + sizeof out, outNext);
    if (result == std::codecvt_base::noconv)
        return true;
    if (result != std::codecvt_base::ok)
        return false;
    const auto count = static_cast<size_t>(outNext - out);
    return std::fwrite(out, 1, count, file_) == count;
}

ccBasic_ifstream<char>::ccBasic_ifstream() : std::istream(nullptr) { init(&buf_); }

void ccBasic_ifstream<char>::open(const std::wstring& path, std::ios_base::openmode mode)
{
    if (buf_.open(path, mode | std::ios_base::in))
        clear();
    else
        setstate(std::ios_base::failbit);
}

void ccBasic_ifstream<char>::close()
{
    if (!buf_.close())
        setstate(std::ios_base::failbit);
}

ccBasic_IFstream<char>::ccBasic_IFstream(const std::wstring& path, std::ios_base::openmode mode, int /*protection*/)
{
    open(path, mode);
    // Only an open file takes a buffer; without one it reads unbuffered by
    // the C file's own.
    if (is_open()) {
        buffer_.reset(new (std::nothrow) char[kBufferSize]);
        if (buffer_ && !rdbuf()->pubsetbuf(buffer_.get(), static_cast<std::streamsize>(kBufferSize)))
            buffer_.reset();
    }
}

ccBasic_IFstream<char>::~ccBasic_IFstream()
{
    // The buffer is freed after the file is closed; destructors never throw.
    try {
        close();
    } catch (...) {
    }
}
