#include "acq/hyper/prop/ilut8.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <typeinfo>
#include <vector>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

namespace {

constexpr int32_t kDefaultSize = 256;

// Clips every pel to 15..240.
struct DefaultTable {
    unsigned char entries[kDefaultSize];
    DefaultTable()
    {
        for (int i = 0; i < kDefaultSize; ++i)
            entries[i] = static_cast<unsigned char>(std::clamp(i, 15, 240));
    }
};

const unsigned char* defaultTable()
{
    static const DefaultTable table;
    return table.entries;
}

} // namespace

ccPersistent* cc8BitInputLutProp::cmCreate() { return new (std::nothrow) cc8BitInputLutProp; }

void cc8BitInputLutProp::shape(int64_t size, int64_t channels)
{
    if (channels_ != 0)
        return;
    if (channels < 1 || size < 0 || (size != 0 && size < kDefaultSize) || channels > kMaxTableBytes ||
        size > kMaxTableBytes || size * channels > kMaxTableBytes)
        throw BadParams();
    size_ = static_cast<int32_t>(size);
    channels_ = static_cast<int32_t>(channels);
    if (size_ == 0)
        return;
    table_.reset(new unsigned char[size_t(size * channels)]());
    try {
        inputLut(defaultTable(), kDefaultSize, -1);
    } catch (...) {
        // A board that refuses the default leaves the property unshaped.
        table_.reset();
        size_ = 0;
        channels_ = 0;
        throw;
    }
}

int32_t cc8BitInputLutProp::numChannels()
{
    shape(kDefaultSize, 1);
    return channels_;
}

int32_t cc8BitInputLutProp::size()
{
    shape(kDefaultSize, 1);
    return size_;
}

void cc8BitInputLutProp::inputLut(const unsigned char* table, int32_t n, int32_t channel)
{
    shape(kDefaultSize, 1);
    if (size_ == 0 || !table || n < 1 || n > size_ || channel >= channels_ || channel < -1)
        throw BadParams();
    if (channel >= 0) {
        setChannel(table, n, channel);
        return;
    }
    for (int32_t c = 0; c < channels_; ++c)
        setChannel(table, n, c);
}

void cc8BitInputLutProp::setChannel(const unsigned char* table, int32_t n, int32_t channel)
{
    std::vector<unsigned char> entries(static_cast<size_t>(size_));
    // Each source entry repeated size / n times where n divides the size;
    // otherwise spread evenly, never reading past the caller's n entries.
    for (int64_t i = 0; i < size_; ++i)
        entries[size_t(i)] = table[i * n / size_];
    if (fifo_)
        fifo_->inputLut(entries.data(), static_cast<uint32_t>(size_), channel);
    std::memcpy(table_.get() + size_t(channel) * size_t(size_), entries.data(), entries.size());
}

void cc8BitInputLutProp::inputLut(const unsigned char* table)
{
    try {
        inputLut(table, kDefaultSize, -1);
    } catch (const BadParams&) {
        // Callers probe and restore with it; a shape that takes no such
        // table is not an error to them.
    }
}

const unsigned char* cc8BitInputLutProp::table(int32_t channel) const
{
    if (!table_ || channel < 0 || channel >= channels_)
        return nullptr;
    return table_.get() + size_t(channel) * size_t(size_);
}

void cc8BitInputLutProp::attach(cc_AcqFifo* fifo)
{
    cc_AcqFifo* const previous = fifo_;
    fifo_ = fifo; // first, so that the shaping sends the default table
    if (channels_ != 0 || !fifo)
        return;
    try {
        const uint32_t channels = fifo->numChannels();
        const uint32_t entries = fifo->numInputLuts();
        shape(entries, channels);
    } catch (...) {
        fifo_ = previous;
        throw;
    }
}

void cc8BitInputLutProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(cc8BitInputLutProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/ilut8", __LINE__);
    ccPersistent::archive(ar);
    if (ar.isStoring()) {
        shape(kDefaultSize, 1);
        uint32_t size = static_cast<uint32_t>(size_);
        uint32_t channels = static_cast<uint32_t>(channels_);
        ar.archive(size).archive(channels);
        if (table_)
            ar.archiveBytes(table_.get(), size_ * channels_); // at most kMaxTableBytes
    } else if (version >= 2) {
        uint32_t size = 0, channels = 0;
        ar.archive(size).archive(channels);
        // Stored as unsigned words, read back as signed.
        const int64_t storedSize = static_cast<int32_t>(size);
        const int64_t storedChannels = static_cast<int32_t>(channels);
        shape(storedSize, storedChannels);
        if (size_ != storedSize || channels_ != storedChannels)
            throw BadParams();
        if (size_ > 0) {
            std::vector<unsigned char> tables(size_t(size_) * size_t(channels_));
            ar.archiveBytes(tables.data(), size_ * channels_);
            for (int32_t c = 0; c < channels_; ++c)
                inputLut(tables.data() + size_t(c) * size_t(size_), size_, c);
        }
    } else {
        unsigned char a[kDefaultSize], b[kDefaultSize];
        ar.archiveBytes(a, kDefaultSize);
        if (version == 1)
            ar.archiveBytes(b, kDefaultSize);
        if (version == 1 && std::memcmp(a, b, kDefaultSize) != 0) {
            // Two channels, the second stored first.
            shape(kDefaultSize, 2);
            inputLut(a, kDefaultSize, 1);
            inputLut(b, kDefaultSize, 0);
        } else {
            shape(kDefaultSize, 1);
            inputLut(a, kDefaultSize, -1);
        }
    }
    ccArchiveVisit::end(this, typeid(cc8BitInputLutProp));
}
