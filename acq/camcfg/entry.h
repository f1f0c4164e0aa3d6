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

// An entry of a file; shared through ccPtrHandle<cc_camCfgEntry>.
//
// CONTRACT (for the other pieces of this folder; the entry classes, their
// factories, setters, getters, lists, archive and equality are declared
// beside it by their owner):
//  - convertText(text, toText, index): toText appends the value (element
//    index of a list) to text; otherwise reads one value from the start of
//    text (text keeps what follows), answers false for a name its
//    enumeration does not know (value unchanged), and lets the parse errors
//    of cc_AcqStringHelper through.
//  - comment(): the comments of the lines that set the entry.
class cc_camCfgEntry : public virtual ccRepBase {
public:
    cmDeclareException(BadType, ccException, 0x10005a50u, "class cc_camCfgEntry::BadType");

    virtual bool convertText(std::wstring& text, bool toText, int32_t index) = 0;
    std::wstring& comment() { return comment_; }
    const std::wstring& comment() const { return comment_; }

protected:
    cc_camCfgEntry() = default;

private:
    uint32_t word_ = 0;
    std::wstring comment_;
    std::vector<uint8_t> spare_;
};

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
