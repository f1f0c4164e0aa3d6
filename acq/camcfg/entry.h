// Typed values read from a camera-configuration file and the store of one
// file. Each key of the file holds one entry: an enumeration (an index into
// its name table), a 32-bit integer, a double, a bool, a string, or a list
// of horizontal or vertical timing specifications.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "acq/vidfmt/vidfmt.h"
#include "std/except/archive.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"

// The enumerations are 32-bit indices into their name tables; the value one
// past a table's end (or -1 for the pel type) means no name was given.
namespace cc_ccfEnums {
enum ce_vidInterface : int32_t {};
enum ce_vidEncode : int32_t {};
enum ce_tapInterleave : int32_t {};
enum ce_hdSignal : int32_t {};
enum ce_vdSignal : int32_t {};
enum ce_sigReference : int32_t {};
enum ce_refType : int32_t {};
enum ce_pclkSource : int32_t {};
enum ce_direction : int32_t {};
enum ce_interface : int32_t {};
enum ce_shutterMode : int32_t {};
enum ce_shutterGranularity : int32_t {};
enum ce_shutterLine : int32_t {};
enum ce_strobeMode : int32_t {};
enum ce_polarity : int32_t {};
} // namespace cc_ccfEnums
enum ce_pelType : int32_t {};
enum ce_colorPlaneOrder : int32_t {};

struct cs_h_timingSpec {
    bool flag;
    int32_t value;
};
struct cs_v_timingSpec {
    bool flag;
    double value;
};

// The 21 value types of the entries, in the order of the entry's typed
// slots: X(suffix, type), the suffix naming the concrete class
// cc_CamConfig<suffix>.
#define cmCamCfgValueTypes(X)                                 \
    X(Polarity, cc_ccfEnums::ce_polarity)                     \
    X(StrobeMode, cc_ccfEnums::ce_strobeMode)                 \
    X(ShutterLine, cc_ccfEnums::ce_shutterLine)               \
    X(ShutterGranularity, cc_ccfEnums::ce_shutterGranularity) \
    X(ShutterMode, cc_ccfEnums::ce_shutterMode)               \
    X(Interface, cc_ccfEnums::ce_interface)                   \
    X(Direction, cc_ccfEnums::ce_direction)                   \
    X(PclkSource, cc_ccfEnums::ce_pclkSource)                 \
    X(RefType, cc_ccfEnums::ce_refType)                       \
    X(SigReference, cc_ccfEnums::ce_sigReference)             \
    X(VdSignal, cc_ccfEnums::ce_vdSignal)                     \
    X(HdSignal, cc_ccfEnums::ce_hdSignal)                     \
    X(ColorPlaneOrder, ce_colorPlaneOrder)                    \
    X(Interleave, cc_ccfEnums::ce_tapInterleave)              \
    X(PelType, ce_pelType)                                    \
    X(VidEncode, cc_ccfEnums::ce_vidEncode)                   \
    X(VidInterface, cc_ccfEnums::ce_vidInterface)             \
    X(String, std::wstring)                                   \
    X(Bool, bool)                                             \
    X(Int32, int32_t)                                         \
    X(Double, double)

// An entry of a file; shared through ccPtrHandle<cc_camCfgEntry>.
//  - convertText(text, toText, index): toText appends the value (element
//    index of a list) to text; otherwise reads one value from the start of
//    text (text keeps what follows), answers false for a name its
//    enumeration does not know (value unchanged), and lets the parse errors
//    of cc_AcqStringHelper through.
//  - comment(): the comments of the lines that set the entry.
//
// Every entry answers every typed slot: an element takes and gives the
// value of its own type only; a setter of another type raises BadType and a
// getter of another type answers false with its out value untouched. The
// timing slots work on the list of their kind only, likewise.
class cc_camCfgEntry : public virtual ccRepBase {
public:
    cmDeclareException(BadType, ccException, 0x10005a50u, "class cc_camCfgEntry::BadType");

    virtual bool convertText(std::wstring& text, bool toText, int32_t index) = 0;
    std::wstring& comment() { return comment_; }
    const std::wstring& comment() const { return comment_; }

    // Stores or loads the value (one ccArchive primitive, or a list's count
    // and elements); no version byte. A failed load leaves the value as it was.
    virtual void archive(ccArchive& ar) = 0;
    // 1 for an element, the length of a list.
    virtual int32_t count() const = 0;
    // Same class and same value (lists: same elements in order).
    virtual bool equals(const cc_camCfgEntry& other) const = 0;

#define cmCamCfgSlots(Suffix, T)          \
    virtual void setValue(const T* value); \
    virtual bool getValue(T* value) const;
    cmCamCfgValueTypes(cmCamCfgSlots)
#undef cmCamCfgSlots

    // Narrowed from the Int32 or Double value; false, out untouched, for any
    // other entry.
    bool getUShort(uint16_t* value) const;
    bool getUChar(uint8_t* value) const;
    bool getFloat(float* value) const;

    // Element index of a timing list; false, out untouched, for an index
    // outside the list or an entry that is no list of that kind.
    virtual bool getVTiming(int32_t index, cs_v_timingSpec* value) const;
    virtual bool getHTiming(int32_t index, cs_h_timingSpec* value) const;
    // False outside 0 <= index < count (and for elements).
    virtual bool removeAt(int32_t index);
    // BadType on an entry that is no list of that kind.
    virtual void appendV(const cs_v_timingSpec& value);
    virtual void appendH(const cs_h_timingSpec& value);
    // Replaces element index, or appends at index == count; false otherwise
    // and for an entry that is no list of that kind.
    virtual bool setVAt(int32_t index, const cs_v_timingSpec& value);
    virtual bool setHAt(int32_t index, const cs_h_timingSpec& value);

protected:
    cc_camCfgEntry() = default;

private:
    uint32_t word_ = 0;
    std::wstring comment_;
    std::vector<uint8_t> spare_;
};

// One value of type T. Its own setter and getter; text transfer, archive
// and equality by the kind of T.
template <class T>
class cc_camCfgElement : public cc_camCfgEntry {
public:
    typedef T value_type;
    using cc_camCfgEntry::getValue;
    using cc_camCfgEntry::setValue;

    // A null pointer raises ccBadPointer.
    void setValue(const T* value) override;
    bool getValue(T* value) const override;
    const T& value() const { return value_; }

    bool convertText(std::wstring& text, bool toText, int32_t index) override;
    void archive(ccArchive& ar) override;
    int32_t count() const override { return 1; }
    bool equals(const cc_camCfgEntry& other) const override;

    // An enumeration's names, in index order, ending with null; null for
    // the other types.
    static const wchar_t* const* names();

protected:
    explicit cc_camCfgElement(const T& initial) : value_(initial) {}

private:
    T value_;
};

// A list of timing specifications (S is cs_h_timingSpec or cs_v_timingSpec).
template <class S>
class cc_camCfgList : public cc_camCfgEntry {
public:
    typedef S value_type;

    // A new, empty list.
    static ccPtrHandle<cc_camCfgEntry> create();

    bool convertText(std::wstring& text, bool toText, int32_t index) override;
    void archive(ccArchive& ar) override;
    int32_t count() const override { return static_cast<int32_t>(items_.size()); }
    bool equals(const cc_camCfgEntry& other) const override;
    bool removeAt(int32_t index) override;

    const std::vector<S>& items() const { return items_; }

    // Element index; false, out untouched, outside the list.
    bool get(int32_t index, S* value) const;
    void append(const S& value) { items_.push_back(value); }
    bool setAt(int32_t index, const S& value);

    // The slots of this list's kind; the other kind's stay refused.
    bool getVTiming(int32_t index, cs_v_timingSpec* value) const override;
    bool getHTiming(int32_t index, cs_h_timingSpec* value) const override;
    void appendV(const cs_v_timingSpec& value) override;
    void appendH(const cs_h_timingSpec& value) override;
    bool setVAt(int32_t index, const cs_v_timingSpec& value) override;
    bool setHAt(int32_t index, const cs_h_timingSpec& value) override;

private:
    std::vector<S> items_;
};

extern template class cc_camCfgList<cs_h_timingSpec>;
extern template class cc_camCfgList<cs_v_timingSpec>;

// The concrete classes cc_CamConfig<suffix>, each with its factory: a new
// entry holding its construction value (enumerations: one past the end of
// their table, except the pel type, -1, and the colour-plane order, 0;
// Int32 -1, Double -1.0, Bool true, String empty).
#define cmCamCfgClass(Suffix, T)                                  \
    extern template class cc_camCfgElement<T>;                    \
    class cc_CamConfig##Suffix : public cc_camCfgElement<T> {     \
    public:                                                       \
        cc_CamConfig##Suffix();                                   \
        static ccPtrHandle<cc_camCfgEntry> create();              \
    };
cmCamCfgValueTypes(cmCamCfgClass)
#undef cmCamCfgClass

// Everything read from one file: entries by key number (the parameter
// map's row index), the description (the file's first comment) and the
// errors met, by section, in the order reported.
class cc_camCfgStore : public virtual ccRepBase {
public:
    typedef std::vector<std::pair<std::wstring, std::wstring>> ErrorList; // (key, message)

    // Empty handle beyond the vector or for a key without a value.
    ccPtrHandle<cc_camCfgEntry> entry(uint32_t key) const;
    // Grows the vector with empty handles to key + 1 when shorter.
    void setEntry(uint32_t key, const ccPtrHandle<cc_camCfgEntry>& entry);
    void addError(const std::wstring& section, const std::wstring& key, const std::wstring& message);
    const std::map<std::wstring, ErrorList>& errors() const { return errors_; }
    std::wstring& description() { return description_; }
    const std::wstring& description() const { return description_; }

    // The value at key when the entry there holds exactly type T (one of
    // int32_t, double, bool, std::wstring and the 17 enumerations); false,
    // out untouched, otherwise.
    template <class T>
    bool get(uint32_t key, T* out) const;

private:
    std::vector<ccPtrHandle<cc_camCfgEntry>> entries_;
    std::wstring description_;
    std::map<std::wstring, ErrorList> errors_;
};

// The first extension of the list whose name is exactly the one given, or null.
cc_VidFormatExtension* findExtension(const std::wstring& name, const std::vector<cc_VidFormatExtension*>& extensions);
