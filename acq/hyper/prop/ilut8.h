// The input lookup tables the board applies to 8-bit pels, one table per
// channel. The shape (entries per table, channels) is fixed by the first
// shaping: the board's at attach, or 256 x 1 when asked before that.
#pragma once
#include <cstdint>
#include <memory>

#include "std/except/except.h"

class cc_AcqFifo;

class cc8BitInputLutProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009B9u, "class cc8BitInputLutProp::BadParams");

    static constexpr const char* kStoredName = "class cc8BitInputLutProp";
    static constexpr uint8_t kVersion = 2;
    // A shape no 8-bit input has; refused so that a board's or an archive's
    // numbers never size an allocation unchecked.
    static constexpr int64_t kMaxTableBytes = int64_t(1) << 24;
    // The registry's factory: a detached property with no shape.
    static ccPersistent* cmCreate();

    cc8BitInputLutProp() = default;
    cc8BitInputLutProp(const cc8BitInputLutProp&) = delete;
    cc8BitInputLutProp& operator=(const cc8BitInputLutProp&) = delete;

    // Each shapes the property as 256 x 1 first if it has no shape yet.
    int32_t numChannels();
    int32_t size();

    // Sets channel (0 to channels - 1; -1 every channel, lowest first) from
    // the n entries of table spread over the channel (entry i takes table[i *
    // n / size]: each repeated size / n times where n divides the size).
    // Refused with BadParams: size 0, a null table, n below 1 or above the
    // size, a bad channel. Attached, each channel goes to the board
    // before it is stored; a board error leaves that channel as it was.
    void inputLut(const unsigned char* table, int32_t n, int32_t channel);
    // Every channel from 256 entries; a BadParams refusal is ignored.
    void inputLut(const unsigned char* table);
    // The channel's entries, or null when the property has no table or there
    // is no such channel.
    const unsigned char* table(int32_t channel) const;

    // Stores the implementation, and if the property has no shape yet shapes
    // it as the board reports (entries, channels), sending the default table
    // to it; BadParams for fewer than one channel or a bad entry count. A
    // failed attach leaves the property as it was.
    void attach(cc_AcqFifo* fifo);
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 2, the ccPersistent level, size and channels as 32-bit
    // words, then the tables, channel 0 first. Loaded tables go through the
    // setter; versions 0 and 1 carry one or two 256-entry tables.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

protected:
    // Whether the property has its shape, and back to none: the aggregate
    // puts back a load that failed.
    bool shaped() const { return channels_ != 0; }
    void unshape()
    {
        table_.reset();
        size_ = 0;
        channels_ = 0;
    }

private:
    // Only while there is no shape; 0 entries is a board without a table.
    void shape(int64_t size, int64_t channels);
    void setChannel(const unsigned char* table, int32_t n, int32_t channel);

    cc_AcqFifo* fifo_ = nullptr;
    int32_t size_ = 0;
    int32_t channels_ = 0; // 0: no shape yet
    std::unique_ptr<unsigned char[]> table_;
};
