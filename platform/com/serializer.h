#pragma once
// The keyed-archive interfaces of the suite's core library and the stand-in
// for the suite's persistence serializer, which writes an object's archive to
// a stream (slot 28) and loads an object from one (slot 29) through the
// object's Persist.
//
// Stream format, little-endian, written strictly in sequence (no Seek, no
// Stat), so that a counting stream measures it:
//   object: u32 magic "QPSO", u16 version, 16-byte class id, u32 item count, items
//   item:   text key, u16 VARTYPE, value
//   text:   u32 UTF-16 unit count (0xFFFFFFFF: null), the units
//   value:  EMPTY/NULL nothing; UI1 1 byte; I2/BOOL 2; I4/R4/ERROR 4; R8 8;
//           BSTR text; UNKNOWN/DISPATCH u8 0 (null) or 1 and an object;
//           ARRAY of one of the scalar types from UI1 to BSTR: u16 dimension
//           count (0: a null array, else 1), i32 lower bound, u32 element
//           count, the elements as the scalars.
// Saving any other value (or an array of several dimensions) fails with
// DISP_E_BADVARTYPE. Loading reads the whole stream before the object is
// touched: a truncated stream (STG_E_READFAULT), a malformed one
// (STG_E_INVALIDHEADER; so is an array longer than the rest of the stream),
// one of another class (E_INVALIDARG) or of a newer version (STG_E_OLDDLL)
// leaves the object as it was.

#include "platform/com/stream.h"

struct IQorArchive : IDispatch {
    virtual HRESULT PersistVariant(BSTR key, VARIANT* value) = 0;
    virtual HRESULT PersistUI1(BSTR key, BYTE* value) = 0;
    virtual HRESULT PersistI2(BSTR key, SHORT* value) = 0;
    virtual HRESULT PersistI4(BSTR key, LONG* value) = 0;
    virtual HRESULT PersistR4(BSTR key, float* value) = 0;
    virtual HRESULT PersistR8(BSTR key, double* value) = 0;
    virtual HRESULT PersistBoolean(BSTR key, VARIANT_BOOL* value) = 0;
    virtual HRESULT PersistString(BSTR key, BSTR* value) = 0;
    virtual HRESULT LoadObject(BSTR key, IUnknown** value) = 0;
    virtual HRESULT SaveObject(BSTR key, IUnknown* value) = 0;
    virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT get_Item(VARIANT index, VARIANT* value) = 0;
    virtual HRESULT FindItem(VARIANT value, LONG* position) = 0;
    virtual HRESULT get_Key(LONG position, BSTR* key) = 0;
    virtual HRESULT FindKey(BSTR key, LONG* position) = 0;
    virtual HRESULT get_Mode(LONG* mode) = 0;
};

struct IQorPersistArchive : IUnknown {
    virtual HRESULT Persist(IQorArchive* archive, LONG flags) = 0;
    // Called on a clone target just before it loads.
    virtual HRESULT BeforeCloneLoad() = 0;
    // After a clone: VARIANT_TRUE for the clone of a sub-object, VARIANT_FALSE for the top level.
    virtual HRESULT CloneCopied(VARIANT_BOOL subObject) = 0;
    virtual HRESULT CloneReserved() = 0;
    virtual HRESULT CloneFinished(LONG value) = 0;
};

// What the serializer needs of an archive beyond IQorArchive: a mode with the
// read cursor back at the start, and items appended as they were stored.
struct IQorArchiveStore : IUnknown {
    virtual HRESULT SetMode(LONG mode) = 0;
    virtual HRESULT Append(LPCOLESTR key, const VARIANT* value) = 0;
};

#define QOR_SERIALIZER_SLOT(n) virtual HRESULT Reserved##n() = 0;
struct IQorPersistSerializer : IUnknown {
    QOR_SERIALIZER_SLOT(3) QOR_SERIALIZER_SLOT(4) QOR_SERIALIZER_SLOT(5) QOR_SERIALIZER_SLOT(6)
    QOR_SERIALIZER_SLOT(7) QOR_SERIALIZER_SLOT(8) QOR_SERIALIZER_SLOT(9) QOR_SERIALIZER_SLOT(10)
    QOR_SERIALIZER_SLOT(11) QOR_SERIALIZER_SLOT(12) QOR_SERIALIZER_SLOT(13) QOR_SERIALIZER_SLOT(14)
    QOR_SERIALIZER_SLOT(15) QOR_SERIALIZER_SLOT(16) QOR_SERIALIZER_SLOT(17) QOR_SERIALIZER_SLOT(18)
    QOR_SERIALIZER_SLOT(19) QOR_SERIALIZER_SLOT(20) QOR_SERIALIZER_SLOT(21) QOR_SERIALIZER_SLOT(22)
    QOR_SERIALIZER_SLOT(23) QOR_SERIALIZER_SLOT(24) QOR_SERIALIZER_SLOT(25) QOR_SERIALIZER_SLOT(26)
    QOR_SERIALIZER_SLOT(27)
    // Slot 28.
    virtual HRESULT SaveObjectToStream(IStream* stream, IUnknown* object, LONG flags, LONG, LONG) = 0;
    // Slot 29.
    virtual HRESULT LoadObjectFromStream(IStream* stream, IUnknown* object, LONG flags, LONG, LONG, LONG, LONG) = 0;
};
#undef QOR_SERIALIZER_SLOT

extern const IID IID_IQorArchive;
extern const IID IID_IQorPersistArchive;
extern const IID IID_IQorArchiveStore;
extern const IID IID_IQorPersistSerializer;
extern const CLSID CLSID_QorPersistSerializer;

constexpr LONG kPersistSaving = 0x40000000;
constexpr LONG kPersistKeepMissing = 0x20000000;
constexpr LONG kPersistObjectsOnly = 0x10000000;

namespace plat::com {

constexpr uint16_t kSerializerVersion = 1;

// Makes a new empty archive (supplied by the object framework above).
using ArchiveFactory = HRESULT (*)(IQorArchiveStore** archive);

// Registers the serializer stand-in in the class table, making its archives with factory.
HRESULT registerSerializerStandIn(ArchiveFactory factory);

} // namespace plat::com
