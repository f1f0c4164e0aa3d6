#include "std/filestream.h"

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

ccBasic_filebuf<char>* ccBasic_filebuf<char>::open(const std::wstring& path, std::ios_base::openmode mode)
{
    // A name cut short at a null character, or one whose characters UTF-8
    // cannot hold (a lone surrogate would become U+FFFD), would open another
    // file.
    std::string name;
    try {
        if (!modeText(mode) || is_open() || !plat::systemNameFromWide(path, &name))
            return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    // The standard buffer opens with the same mode text, and with the at-end
    // bit seeks to the end and closes again if that fails.
    return std::filebuf::open(name.c_str(), mode) ? this : nullptr;
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
    // The standard buffer takes a buffer only while no file is open.
    buffer_.reset(new (std::nothrow) char[kBufferSize]);
    if (buffer_)
        rdbuf()->pubsetbuf(buffer_.get(), static_cast<std::streamsize>(kBufferSize));
    open(path, mode);
}

ccBasic_IFstream<char>::~ccBasic_IFstream()
{
    // The buffer is freed after the file is closed; destructors never throw.
    try {
        close();
    } catch (...) {
    }
}
