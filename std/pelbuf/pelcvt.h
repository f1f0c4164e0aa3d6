// Bridges between pel roots and buffers and the kernel layer's images, with
// no pel copied: a pel root over a kernel-layer storage (ccPelRootCvt<T>),
// through which a kernel result becomes a pel buffer, and a view that shows a
// pel buffer to the kernels as a cip_Image (cc_CipImageView).
#pragma once
#include <cstdint>

#include "kernels/cip_image.h"
#include "std/pelbuf/pelbuf.h"

// The stored names; 32-bit pels are spelled "unsigned long".
template <class T>
struct ccPelRootCvtName;

#define cmPelRootCvtName(T, Name)                 \
    template <>                                   \
    struct ccPelRootCvtName<T> {                  \
        static constexpr const char* name = Name; \
    }

cmPelRootCvtName(unsigned char, "class ccPelRootCvt<unsigned char>");
cmPelRootCvtName(short, "class ccPelRootCvt<short>");
cmPelRootCvtName(unsigned short, "class ccPelRootCvt<unsigned short>");
cmPelRootCvtName(uint32_t, "class ccPelRootCvt<unsigned long>");
cmPelRootCvtName(double, "class ccPelRootCvt<double>");
#undef cmPelRootCvtName

// A typed root whose pels belong to a kernel-layer storage: it holds one
// reference to the storage for as long as it lives and never allocates or
// frees pels itself. The storage dies with its last reference, which may be
// the root's. A root made by the factory, or loaded, is an ordinary local
// root without storage.
template <class T>
class ccPelRootCvt : public ccPelRoot<T> {
public:
    static constexpr const char* kStoredName = ccPelRootCvtName<T>::name;
    static ccPersistent* cmCreate();

    ccPelRootCvt() = default;
    // 8-bit only: the root shows the storage's pels (its width, height,
    // stride, data and alignment). A storage of another pel size raises
    // ccPel::Unknown; a status of the kernel layer is thrown.
    explicit ccPelRootCvt(cip_ImageStorage& storage);
    // Lets go of the storage; a failure to release is dropped.
    ~ccPelRootCvt() override;

    // Version byte 0 (read and not checked), then the typed root's level.
    // A load gives up the storage once the loaded pels are the root's own.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

    // The storage's counted record; empty when the root has none.
    csys_handle storage() const { return storage_; }

private:
    csys_handle storage_ = nullptr;
};

// The other four instances are made only by their factories.
template <>
ccPelRootCvt<unsigned char>::ccPelRootCvt(cip_ImageStorage& storage);

extern template class ccPelRootCvt<unsigned char>;
extern template class ccPelRootCvt<short>;
extern template class ccPelRootCvt<unsigned short>;
extern template class ccPelRootCvt<uint32_t>;
extern template class ccPelRootCvt<double>;

// A kernel image as an 8-bit buffer: bound (over a ccPelRootCvt) to the
// window of its storage when it has one, else unbound; the image's client
// offsets as the window offset and its transform (the identity when it has
// none) as the client transform. A window outside the storage raises
// ccPel::BadWindow; kernel-layer statuses are thrown.
template <>
ccPelBuffer<unsigned char> ccPelBuffer<unsigned char>::fromCipImage(const cip_Image& image);

// A pel buffer's pels, window and client transform presented as a cip_Image
// to the kernels. The view holds references to the root's pels (through a
// kernel-layer storage over them) and to a kernel-layer copy of the client
// transform until it is released; the buffer is not touched. The root must
// outlive the view's use of its pels.
class cc_CipImageView {
public:
    // Attaches buffer with pel size 1 and kind 0; a status of the kernel
    // layer is thrown with nothing held.
    explicit cc_CipImageView(const cc_PelBuffer& buffer);
    // Releases what release() has not; errors are dropped.
    ~cc_CipImageView();
    cc_CipImageView(const cc_CipImageView&) = delete;
    cc_CipImageView& operator=(const cc_CipImageView&) = delete;

    // Fills the record that kind selects (0 and unlisted kinds the first,
    // 3 the second, 4 the third, 1 the fourth, 2 the fifth): for a bound
    // buffer its root's pels with the buffer's window and window offset, for
    // an unbound one an empty record; in both the client transform. A root
    // whose pels are not pelSize bytes raises ccPel::Unknown, a buffer
    // without a client transform ccBadPointer, a root whose pels are not in
    // this process the kernel layer's status. The buffer is kept (not owned)
    // when keepBuffer is set. A refused buffer leaves the view as it was.
    void attach(const cc_PelBuffer& buffer, int32_t reserved, int32_t pelSize, int32_t kind, bool keepBuffer);

    const cip_Image& image() const { return *selected_; }
    bool sourceWasBound() const { return bound_; }
    // Null unless attach was asked to keep it; may dangle once the buffer goes.
    const cc_PelBuffer* keptBuffer() const { return buffer_; }

    // Releases the five records; the first failure is thrown after all
    // were released.
    void release();

private:
    bool bound_ = false;
    cip_Image images_[5];
    cip_Image* selected_ = &images_[0];
    const cc_PelBuffer* buffer_ = nullptr;
};
