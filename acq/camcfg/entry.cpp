#include "acq/camcfg/entry.h"

#include <type_traits>

#include "acq/camcfg/strhelper.h"

namespace {

// Name tables, in index order, each ending with null.
const wchar_t* const kVidInterfaceNames[] = {L"analog", L"digital_422", L"digital_644", L"ieee1394", L"cameralink",
                                             nullptr};
const wchar_t* const kVidEncodeNames[] = {L"mono", L"PAL", L"NTSC", L"SVHS", L"RGB", L"YUV", L"RAW", nullptr};
const wchar_t* const kPelTypeNames[] = {L"mono",        L"RGBpacked",  L"RGBplanar", L"UYVY",           L"RAW8",
                                        L"UYYVYY",      L"UYV",        L"RGB24",     L"RGBpacked16",    L"mono16",
                                        L"RAW16",       L"RGB48",      L"mono10",    L"mono12",         L"mono16bigendian",
                                        L"BGR24",       nullptr};
const wchar_t* const kInterleaveNames[] = {L"RGB", L"pixel", L"line", L"leftright", nullptr};
const wchar_t* const kColorPlaneOrderNames[] = {L"red_green_blue", L"red_blue_green", L"green_red_blue",
                                                L"green_blue_red", L"blue_red_green", L"blue_green_red",
                                                nullptr};
const wchar_t* const kHdSignalNames[] = {L"hd", L"hsync", L"csync", L"ctrl1", nullptr};
const wchar_t* const kVdSignalNames[] = {L"vd", L"vsync", L"ctrl1", L"ctrl2", nullptr};
const wchar_t* const kSigReferenceNames[] = {L"none", L"sync_separator", L"external", nullptr};
const wchar_t* const kRefTypeNames[] = {L"drive", L"sync", nullptr};
const wchar_t* const kPclkSourceNames[] = {L"oscillator", L"pll", L"external", nullptr};
const wchar_t* const kDirectionNames[] = {L"in", L"out", L"unused", nullptr};
const wchar_t* const kInterfaceNames[] = {L"ttl", L"rs422", L"eia644", nullptr};
const wchar_t* const kShutterModeNames[] = {L"none", L"pulse_width_adjust_leading", L"pulse_width_adjust_trailing",
                                            L"pulse_position", L"variable_total", nullptr};
const wchar_t* const kShutterGranularityNames[] = {L"pel", L"line", nullptr};
const wchar_t* const kShutterLineNames[] = {L"vd", L"ctrl1", L"ctrl2", nullptr};
const wchar_t* const kStrobeModeNames[] = {L"trigger", L"fixed", L"pulse_position", L"none", nullptr};
const wchar_t* const kPolarityNames[] = {L"active_low", L"active_high", nullptr};

// What each value type is made of: its name table (enumerations) and the
// value a new entry holds.
template <class T>
struct Traits;

template <class E, const wchar_t* const* Names, int32_t Initial>
struct EnumTraits {
    static const wchar_t* const* names() { return Names; }
    static E initial() { return static_cast<E>(Initial); }
    static int32_t size()
    {
        int32_t n = 0;
        while (Names[n])
            ++n;
        return n;
    }
};

#define cmEnumTraits(E, Names, Initial) \
    template <>                         \
    struct Traits<E> : EnumTraits<E, Names, Initial> {};
cmEnumTraits(cc_ccfEnums::ce_vidInterface, kVidInterfaceNames, 5);
cmEnumTraits(cc_ccfEnums::ce_vidEncode, kVidEncodeNames, 7);
cmEnumTraits(ce_pelType, kPelTypeNames, -1);
cmEnumTraits(cc_ccfEnums::ce_tapInterleave, kInterleaveNames, 4);
cmEnumTraits(ce_colorPlaneOrder, kColorPlaneOrderNames, 0);
cmEnumTraits(cc_ccfEnums::ce_hdSignal, kHdSignalNames, 4);
cmEnumTraits(cc_ccfEnums::ce_vdSignal, kVdSignalNames, 4);
cmEnumTraits(cc_ccfEnums::ce_sigReference, kSigReferenceNames, 3);
cmEnumTraits(cc_ccfEnums::ce_refType, kRefTypeNames, 2);
cmEnumTraits(cc_ccfEnums::ce_pclkSource, kPclkSourceNames, 3);
cmEnumTraits(cc_ccfEnums::ce_direction, kDirectionNames, 3);
cmEnumTraits(cc_ccfEnums::ce_interface, kInterfaceNames, 3);
cmEnumTraits(cc_ccfEnums::ce_shutterMode, kShutterModeNames, 5);
cmEnumTraits(cc_ccfEnums::ce_shutterGranularity, kShutterGranularityNames, 2);
cmEnumTraits(cc_ccfEnums::ce_shutterLine, kShutterLineNames, 3);
cmEnumTraits(cc_ccfEnums::ce_strobeMode, kStrobeModeNames, 4);
cmEnumTraits(cc_ccfEnums::ce_polarity, kPolarityNames, 2);
#undef cmEnumTraits

struct PlainTraits {
    static const wchar_t* const* names() { return nullptr; }
};
template <>
struct Traits<int32_t> : PlainTraits {
    static int32_t initial() { return -1; }
    static void append(std::wstring& text, int32_t v) { cc_AcqStringHelper::appendInt(text, v); }
    static void parse(std::wstring& text, int32_t& v) { cc_AcqStringHelper::parseInt(text, v); }
};
template <>
struct Traits<double> : PlainTraits {
    static double initial() { return -1.0; }
    static void append(std::wstring& text, double v) { cc_AcqStringHelper::appendDouble(text, v); }
    static void parse(std::wstring& text, double& v) { cc_AcqStringHelper::parseDouble(text, v); }
};
template <>
struct Traits<bool> : PlainTraits {
    static bool initial() { return true; }
    static void append(std::wstring& text, bool v) { cc_AcqStringHelper::appendBool(text, v); }
    static void parse(std::wstring& text, bool& v) { cc_AcqStringHelper::parseBool(text, v); }
};
template <>
struct Traits<std::wstring> : PlainTraits {
    static std::wstring initial() { return std::wstring(); }
    static void append(std::wstring& text, const std::wstring& v) { cc_AcqStringHelper::appendQuoted(text, v); }
    static void parse(std::wstring& text, std::wstring& v) { cc_AcqStringHelper::parseQuotedString(text, v); }
};

// How a list element travels as text and in archives.
template <class S>
struct ListTraits;
template <>
struct ListTraits<cs_h_timingSpec> {
    static void append(std::wstring& text, int32_t v) { cc_AcqStringHelper::appendInt(text, v); }
    static void parse(std::wstring& text, int32_t& v) { cc_AcqStringHelper::parseInt(text, v); }
};
template <>
struct ListTraits<cs_v_timingSpec> {
    static void append(std::wstring& text, double v) { cc_AcqStringHelper::appendDouble(text, v); }
    static void parse(std::wstring& text, double& v) { cc_AcqStringHelper::parseDouble(text, v); }
};

bool inList(int32_t index, size_t size) { return index >= 0 && static_cast<size_t>(index) < size; }

} // namespace

// ---- cc_camCfgEntry: every slot refuses; the classes that own one override it.

#define cmCamCfgSlots(Suffix, T)                                       \
    void cc_camCfgEntry::setValue(const T*) { throw BadType(); }        \
    bool cc_camCfgEntry::getValue(T*) const { return false; }
cmCamCfgValueTypes(cmCamCfgSlots)
#undef cmCamCfgSlots

bool cc_camCfgEntry::getUShort(uint16_t* value) const
{
    int32_t v = 0;
    if (!getValue(&v))
        return false;
    *value = static_cast<uint16_t>(v);
    return true;
}

bool cc_camCfgEntry::getUChar(uint8_t* value) const
{
    int32_t v = 0;
    if (!getValue(&v))
        return false;
    *value = static_cast<uint8_t>(v);
    return true;
}

bool cc_camCfgEntry::getFloat(float* value) const
{
    double v = 0;
    if (!getValue(&v))
        return false;
    *value = static_cast<float>(v);
    return true;
}

bool cc_camCfgEntry::getVTiming(int32_t, cs_v_timingSpec*) const { return false; }
bool cc_camCfgEntry::getHTiming(int32_t, cs_h_timingSpec*) const { return false; }
bool cc_camCfgEntry::removeAt(int32_t) { return false; }
void cc_camCfgEntry::appendV(const cs_v_timingSpec&) { throw BadType(); }
void cc_camCfgEntry::appendH(const cs_h_timingSpec&) { throw BadType(); }
bool cc_camCfgEntry::setVAt(int32_t, const cs_v_timingSpec&) { return false; }
bool cc_camCfgEntry::setHAt(int32_t, const cs_h_timingSpec&) { return false; }

// ---- cc_camCfgElement<T>

template <class T>
void cc_camCfgElement<T>::setValue(const T* value)
{
    if (!value)
        throw ccBadPointer();
    value_ = *value;
}

template <class T>
bool cc_camCfgElement<T>::getValue(T* value) const
{
    if (!value)
        throw ccBadPointer();
    *value = value_;
    return true;
}

template <class T>
const wchar_t* const* cc_camCfgElement<T>::names()
{
    return Traits<T>::names();
}

template <class T>
bool cc_camCfgElement<T>::convertText(std::wstring& text, bool toText, int32_t)
{
    if constexpr (std::is_enum_v<T>) {
        const int32_t index = static_cast<int32_t>(value_);
        if (toText) {
            // Values loaded from an archive may lie outside the table: no name.
            if (index < 0 || index >= Traits<T>::size())
                return false;
            text += Traits<T>::names()[index];
            return true;
        }
        const int32_t found = cc_AcqStringHelper::findName(cc_AcqStringHelper::nextToken(text), Traits<T>::names());
        if (found < 0)
            return false;
        const T v = static_cast<T>(found);
        setValue(&v);
        return true;
    } else {
        if (toText) {
            Traits<T>::append(text, value_);
            return true;
        }
        T v{};
        Traits<T>::parse(text, v);
        setValue(&v);
        return true;
    }
}

template <class T>
void cc_camCfgElement<T>::archive(ccArchive& ar)
{
    if constexpr (std::is_enum_v<T>) {
        int32_t word = static_cast<int32_t>(value_);
        ar.archive(word);
        if (ar.isLoading()) {
            const T v = static_cast<T>(word);
            setValue(&v);
        }
    } else {
        T v = value_;
        ar.archive(v);
        if (ar.isLoading())
            setValue(&v);
    }
}

template <class T>
bool cc_camCfgElement<T>::equals(const cc_camCfgEntry& other) const
{
    const auto* o = dynamic_cast<const cc_camCfgElement<T>*>(&other);
    return o && o->value_ == value_;
}

#define cmCamCfgClass(Suffix, T)                                                                    \
    template class cc_camCfgElement<T>;                                                             \
    cc_CamConfig##Suffix::cc_CamConfig##Suffix() : cc_camCfgElement<T>(Traits<T>::initial()) {}     \
    ccPtrHandle<cc_camCfgEntry> cc_CamConfig##Suffix::create()                                      \
    {                                                                                               \
        return ccPtrHandle<cc_camCfgEntry>(new cc_CamConfig##Suffix);                               \
    }
cmCamCfgValueTypes(cmCamCfgClass)
#undef cmCamCfgClass

// ---- cc_camCfgList<S>

template <class S>
ccPtrHandle<cc_camCfgEntry> cc_camCfgList<S>::create()
{
    return ccPtrHandle<cc_camCfgEntry>(new cc_camCfgList<S>);
}

template <class S>
bool cc_camCfgList<S>::convertText(std::wstring& text, bool toText, int32_t index)
{
    if (toText) {
        if (!inList(index, items_.size()))
            return false;
        const S& s = items_[static_cast<size_t>(index)];
        cc_AcqStringHelper::appendBool(text, s.flag);
        text += L' ';
        ListTraits<S>::append(text, s.value);
        return true;
    }
    S s{};
    cc_AcqStringHelper::parseBool(text, s.flag);
    ListTraits<S>::parse(text, s.value);
    append(s);
    return true;
}

template <class S>
void cc_camCfgList<S>::archive(ccArchive& ar)
{
    uint32_t n = static_cast<uint32_t>(items_.size());
    ar.archive(n);
    if (ar.isStoring()) {
        for (S s : items_)
            ar.archive(s.flag).archive(s.value);
        return;
    }
    // No reserve from the stored count: a damaged count meets the end of the
    // input, not a huge allocation. Nothing is appended unless all is read.
    std::vector<S> loaded;
    for (uint32_t i = 0; i < n; ++i) {
        S s{};
        ar.archive(s.flag).archive(s.value);
        loaded.push_back(s);
    }
    items_.insert(items_.end(), loaded.begin(), loaded.end());
}

template <class S>
bool cc_camCfgList<S>::equals(const cc_camCfgEntry& other) const
{
    const auto* o = dynamic_cast<const cc_camCfgList<S>*>(&other);
    if (!o || o->items_.size() != items_.size())
        return false;
    for (size_t i = 0; i < items_.size(); ++i)
        if (o->items_[i].flag != items_[i].flag || o->items_[i].value != items_[i].value)
            return false;
    return true;
}

template <class S>
bool cc_camCfgList<S>::removeAt(int32_t index)
{
    if (!inList(index, items_.size()))
        return false;
    items_.erase(items_.begin() + index);
    return true;
}

template <class S>
bool cc_camCfgList<S>::get(int32_t index, S* value) const
{
    if (!inList(index, items_.size()))
        return false;
    if (!value)
        throw ccBadPointer();
    *value = items_[static_cast<size_t>(index)];
    return true;
}

template <class S>
bool cc_camCfgList<S>::setAt(int32_t index, const S& value)
{
    if (inList(index, items_.size())) {
        items_[static_cast<size_t>(index)] = value;
        return true;
    }
    if (index >= 0 && static_cast<size_t>(index) == items_.size()) {
        append(value);
        return true;
    }
    return false;
}

// The slots of the other kind fall back to the refusals of cc_camCfgEntry.
template <class S>
bool cc_camCfgList<S>::getVTiming(int32_t index, cs_v_timingSpec* value) const
{
    if constexpr (std::is_same_v<S, cs_v_timingSpec>)
        return get(index, value);
    return cc_camCfgEntry::getVTiming(index, value);
}

template <class S>
bool cc_camCfgList<S>::getHTiming(int32_t index, cs_h_timingSpec* value) const
{
    if constexpr (std::is_same_v<S, cs_h_timingSpec>)
        return get(index, value);
    return cc_camCfgEntry::getHTiming(index, value);
}

template <class S>
void cc_camCfgList<S>::appendV(const cs_v_timingSpec& value)
{
    if constexpr (std::is_same_v<S, cs_v_timingSpec>)
        append(value);
    else
        cc_camCfgEntry::appendV(value);
}

template <class S>
void cc_camCfgList<S>::appendH(const cs_h_timingSpec& value)
{
    if constexpr (std::is_same_v<S, cs_h_timingSpec>)
        append(value);
    else
        cc_camCfgEntry::appendH(value);
}

template <class S>
bool cc_camCfgList<S>::setVAt(int32_t index, const cs_v_timingSpec& value)
{
    if constexpr (std::is_same_v<S, cs_v_timingSpec>)
        return setAt(index, value);
    return cc_camCfgEntry::setVAt(index, value);
}

template <class S>
bool cc_camCfgList<S>::setHAt(int32_t index, const cs_h_timingSpec& value)
{
    if constexpr (std::is_same_v<S, cs_h_timingSpec>)
        return setAt(index, value);
    return cc_camCfgEntry::setHAt(index, value);
}

template class cc_camCfgList<cs_h_timingSpec>;
template class cc_camCfgList<cs_v_timingSpec>;

// ---- cc_camCfgStore

ccPtrHandle<cc_camCfgEntry> cc_camCfgStore::entry(uint32_t key) const
{
    if (key >= entries_.size())
        return ccPtrHandle<cc_camCfgEntry>();
    return entries_[key];
}

void cc_camCfgStore::setEntry(uint32_t key, const ccPtrHandle<cc_camCfgEntry>& entry)
{
    if (key >= entries_.size())
        entries_.resize(static_cast<size_t>(key) + 1);
    entries_[key] = entry;
}

void cc_camCfgStore::addError(const std::wstring& section, const std::wstring& key, const std::wstring& message)
{
    errors_[section].emplace_back(key, message);
}

template <class T>
bool cc_camCfgStore::get(uint32_t key, T* out) const
{
    if (key >= entries_.size() || !entries_[key])
        return false;
    return entries_[key]->getValue(out);
}

#define cmCamCfgStoreGet(Suffix, T) template bool cc_camCfgStore::get<T>(uint32_t, T*) const;
cmCamCfgValueTypes(cmCamCfgStoreGet)
#undef cmCamCfgStoreGet

cc_VidFormatExtension* findExtension(const std::wstring& name, const std::vector<cc_VidFormatExtension*>& extensions)
{
    for (cc_VidFormatExtension* e : extensions)
        if (e && e->name() == name)
            return e;
    return nullptr;
}
