// Custom properties: camera settings the library has no property class for,
// kept as an ordered list of commands (a name alone) and writes (a name and
// a value) that the attached FIFO implementation sends to the board.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "std/except/except.h"

class cc_AcqFifo;

class ccCustomPropertyBag {
public:
    cmDeclareException(BadParams, ccException, 0x100009BAu, "class ccCustomPropertyBag::BadParams");

    // The kinds of a record.
    static constexpr int32_t kWrite = 0;
    static constexpr int32_t kCommand = 1;

    // One record a line: "Command" TAB name, or "Write" TAB name TAB value,
    // each ended by LF then CR. An empty bag is the empty string.
    std::wstring asString() const;

    // Replaces the records by those of text. Text that does not parse (or
    // holds a NUL, which the board's zero-terminated copy would cut short)
    // throws BadParams and leaves the bag as it was: a half-parsed bag would
    // reach the board as settings nobody asked for.
    void fromString(const std::wstring& text);

    // The records, in order: parallel sequences of equal length.
    const std::vector<int32_t>& kinds() const { return kinds_; }
    const std::vector<std::wstring>& names() const { return names_; }
    const std::vector<std::wstring>& values() const { return values_; }
    size_t size() const { return kinds_.size(); }

    void swap(ccCustomPropertyBag& other) noexcept;

private:
    std::vector<int32_t> kinds_;
    std::vector<std::wstring> names_;
    std::vector<std::wstring> values_; // empty for a command
};

class ccCustomProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccCustomProp";
    // The registry's factory: a detached property with an empty bag.
    static ccPersistent* cmCreate();

    ccCustomProp() = default;

    ccCustomPropertyBag customProps() const { return bag_; }
    // No check. Attached, the implementation receives the bag first; an
    // error there leaves the stored bag as it was.
    void customProps(const ccCustomPropertyBag& bag);

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then the bag's text form as one
    // wide string. A loaded text is parsed and goes through customProps.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    cc_AcqFifo* fifo_ = nullptr;
    ccCustomPropertyBag bag_;
};
