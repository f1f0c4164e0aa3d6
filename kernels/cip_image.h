// Kernel-layer images: a small value record (cip_Image) naming a window of a
// shared, counted pel storage (cip_ImageStorage), with an optional reference
// to a transform object of the numeric engine.
//
// A storage lives in a heap block of its own, made with count 0; each image
// that attaches or copies it holds one reference, and the last release
// destroys it (its pels too, when it allocated them). Images that share a
// storage may be copied and released on different threads; an image record
// belongs to one thread at a time and nothing locks the pels.
#pragma once
#include <cstdint>

#include "system/csys_array.h"
#include "system/csys_handle.h"
#include "system/csys_memory.h"
#include "system/csys_status.h"

// A null record or slot, a size or alignment below 1, a stride below the
// width, misaligned data or rows, a window outside its storage, or a storage
// that images still hold.
constexpr csysStatus cipErrImageBadArg = csysMakeStatus(0x800003C2u);

typedef csysStatus (*cip_freeFunction)(void* slot);

struct cip_ImageStorage {
    int32_t width;     // pels
    int32_t height;    // rows
    int32_t stride;    // pels from one row start to the next
    int32_t alignment; // bytes, at least 1
    int32_t pelSize;   // bytes, at least 1
    void* data;        // the first pel, a multiple of the alignment
    void* raw;         // the block the storage allocated; null for a caller's pels
    csys_record record; // payload: this storage
};

// Type word 0, no external counter; the last release calls
// cip_imageStorageDestroy.
extern const csys_typeDescription cip_imageStorageType;

// Receives the address of the record's payload field: an empty payload does
// nothing; otherwise frees the allocated pels and the storage's own block.
csysStatus cip_imageStorageDestroy(void* payloadField, int32_t type);

struct cip_Image {
    int32_t width;   // of the window, pels
    int32_t height;  // of the window, rows
    int32_t offsetX; // image coordinates of the window's first column
    int32_t offsetY; // and first row
    int32_t windowX; // first column of the window inside the storage
    int32_t windowY; // first row of the window inside the storage
    csys_handle storage; // the storage's counted record, or empty
    csys_handle xform;   // a counted cip_Xform, or empty
};

// A flat description for the kernels. Without storage the last five fields
// are 0.
struct cip_ImageDesc {
    int32_t width;
    int32_t height;
    int32_t offsetX;
    int32_t offsetY;
    int32_t windowX;
    int32_t windowY;
    int32_t storageWidth;
    int32_t storageHeight;
    int32_t storageStride; // pels
    void* first;           // the window's first pel
    int32_t pelSize;
};

struct cip_Image3 {
    cip_Image plane[3];
};

struct cip_Image3Desc {
    cip_ImageDesc plane[3];
};

// Element types for arrays of three-plane images and their descriptions.
extern const csys_elemType cip_elemImage3[2];
extern const csys_elemType cip_elemImage3Desc[2];

// ---- storage ----

// New pels for width x height pels of pelSize bytes, rows aligned: the stride
// is the least one of at least width whose rows are a multiple of alignment
// bytes. The block (stride x pelSize x height + alignment - 1 bytes) comes
// from allocate; 2^31 bytes or more give csysErrBadSize before anything is
// allocated. A null type means cip_imageStorageType. The last release always
// frees through csys_free, so release is not called here.
[[nodiscard]] csysStatus cip_imageStorageCreate(cip_ImageStorage* storage, const csys_typeDescription* type,
                                                int32_t pelSize, int32_t width, int32_t height, int32_t alignment,
                                                csys_allocFunction allocate, cip_freeFunction release);
// Over pels that the caller owns and keeps alive; the storage never frees them.
[[nodiscard]] csysStatus cip_imageStorageAttach(cip_ImageStorage* storage, const csys_typeDescription* type,
                                                int32_t pelSize, void* data, int32_t width, int32_t height,
                                                int32_t alignment, int32_t stride);

// A slot does not count as a reference: once an image has attached the
// storage, the image's last release destroys it, and the slot is to be
// forgotten.
//
// Frees the storage a slot holds (when no image holds it, else
// cipErrImageBadArg and nothing changes), then makes a new one there. On
// failure the slot is left empty.
[[nodiscard]] csysStatus cip_imageStorageNew(cip_ImageStorage** slot, const csys_typeDescription* type,
                                             int32_t pelSize, int32_t width, int32_t height, int32_t alignment,
                                             csys_allocFunction allocate, cip_freeFunction release);
[[nodiscard]] csysStatus cip_imageStorageNewOver(cip_ImageStorage** slot, int32_t pelSize, void* data, int32_t width,
                                                 int32_t height, int32_t alignment, int32_t stride);
// Frees the storage a slot holds and empties the slot; a storage that images
// still hold gives cipErrImageBadArg and stays.
[[nodiscard]] csysStatus cip_imageStorageFree(cip_ImageStorage** slot);

// ---- images ----

// Window fields 0, both handles empty. The record is treated as
// uninitialised.
[[nodiscard]] csysStatus cip_imageInit(cip_Image* image);
// The whole storage (0 x 0 without one) at offset 0, one reference to it,
// no transform. The record is treated as uninitialised.
[[nodiscard]] csysStatus cip_imageInitOnStorage(cip_Image* image, cip_ImageStorage* storage);
// A new storage held by the image alone; on failure the record is left as
// it was and nothing stays allocated.
[[nodiscard]] csysStatus cip_imageCreate(cip_Image* image, int32_t pelSize, int32_t width, int32_t height,
                                         int32_t alignment, csys_allocFunction allocate, cip_freeFunction release);
[[nodiscard]] csysStatus cip_imageCreateAligned32(cip_Image* image, int32_t pelSize, int32_t width, int32_t height);
// Over pels the caller owns, with the caller's stride (in pels).
[[nodiscard]] csysStatus cip_imageCreateOver(cip_Image* image, int32_t pelSize, void* data, int32_t width,
                                             int32_t height, int32_t alignment, int32_t stride);
// Gives an initialised image new 32-aligned storage of width x height; the
// old storage and transform references are released (other images keep the
// old storage).
[[nodiscard]] csysStatus cip_imageReallocAligned32(cip_Image* image, int32_t pelSize, int32_t width, int32_t height);
// The destination (initialised) takes the source's window and refers to its
// storage and transform, releasing what it held.
[[nodiscard]] csysStatus cip_imageCopy(cip_Image* destination, const cip_Image* source);
// Releases the storage, then the transform; both are released even when the
// first fails, whose status is returned.
[[nodiscard]] csysStatus cip_imageRelease(cip_Image* image);
[[nodiscard]] csysStatus cip_imageHasStorage(const cip_Image* image, int32_t* hasStorage);

// A window that does not lie inside its storage gives cipErrImageBadArg and
// a cleared description, so no kernel is handed an address outside the pels.
[[nodiscard]] csysStatus cip_imageDescribe(cip_ImageDesc* description, const cip_Image* image);
[[nodiscard]] csysStatus cip_imageDescClear(cip_ImageDesc* description);

// ---- three planes: the operations above on planes 0, 1 and 2 ----

// On failure no plane is left half-made.
[[nodiscard]] csysStatus cip_image3Init(cip_Image3* image);
// Every plane is released; the first failure is returned.
[[nodiscard]] csysStatus cip_image3Release(cip_Image3* image);
// Itself: nothing. Otherwise stops at the first plane that fails.
[[nodiscard]] csysStatus cip_image3Assign(cip_Image3* destination, const cip_Image3* source);
// An uninitialised destination becomes a copy; on failure its planes are
// released again.
[[nodiscard]] csysStatus cip_image3InitCopy(cip_Image3* destination, const cip_Image3* source);
[[nodiscard]] csysStatus cip_image3DescClear(cip_Image3Desc* descriptions);
