#include "std/pelbuf/pelcvt.h"

#include "std/except/persist.h"
#include "std/except/status.h"
#include "std/math/xfcip.h"
#include "std/math/xflinear.h"

namespace {

// A kernel-layer image or transform reference held for the length of a call.
struct TempImage {
    cip_Image image = {0, 0, 0, 0, 0, 0, nullptr, nullptr};
    ~TempImage() { (void)cip_imageRelease(&image); } // the default counts cannot fail
};

struct TempRef {
    csys_handle slot = nullptr;
    ~TempRef() { (void)csys_handleRelease(&slot); } // as above
};

// The first pel and pel size of a local root; false for a pel type the
// kernel layer has no image of.
template <class T>
bool pelsOf(const cc_PelRoot& root, void** data, int32_t* pelSize)
{
    const ccPelRoot<T>* typed = dynamic_cast<const ccPelRoot<T>*>(&root);
    if (!typed)
        return false;
    *data = typed->dataStart();
    *pelSize = sizeof(T);
    return true;
}

bool rootPels(const cc_PelRoot& root, void** data, int32_t* pelSize)
{
    return pelsOf<unsigned char>(root, data, pelSize) || pelsOf<signed char>(root, data, pelSize) ||
           pelsOf<unsigned short>(root, data, pelSize) || pelsOf<short>(root, data, pelSize) ||
           pelsOf<uint32_t>(root, data, pelSize) || pelsOf<int32_t>(root, data, pelSize) ||
           pelsOf<double>(root, data, pelSize) || pelsOf<ccPackedRGB16Pel>(root, data, pelSize) ||
           pelsOf<ccPackedRGB32Pel>(root, data, pelSize);
}

int32_t recordOfKind(int32_t kind)
{
    switch (kind) {
    case 3:
        return 1;
    case 4:
        return 2;
    case 1:
        return 3;
    case 2:
        return 4;
    default:
        return 0;
    }
}

} // namespace

// ---- ccPelRootCvt<T> ----

template <class T>
ccPersistent* ccPelRootCvt<T>::cmCreate()
{
    return new (std::nothrow) ccPelRootCvt<T>;
}

template <>
ccPelRootCvt<unsigned char>::ccPelRootCvt(cip_ImageStorage& storage)
    : ccPelRoot<unsigned char>(storage.width, storage.height, storage.stride,
                               static_cast<unsigned char*>(storage.data), storage.alignment)
{
    // Rows of wider pels would be read with the wrong geometry.
    if (storage.pelSize != 1)
        throw ccPel::Unknown();
    ccThrowStatus(csys_handleAttach(&storage_, &storage.record));
}

template <class T>
ccPelRootCvt<T>::~ccPelRootCvt()
{
    (void)csys_handleRelease(&storage_); // a destructor drops a release error
}

template <class T>
void ccPelRootCvt<T>::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccPelRootCvt<T>)))
        return;
    uint8_t version = 0;
    ar.archive(version);
    ccPelRoot<T>::archive(ar);
    // Released only once the loaded pels are the root's own: a load that
    // fails before then leaves the root showing the storage's pels.
    if (ar.isLoading())
        ccThrowStatus(csys_handleRelease(&storage_));
    ccArchiveVisit::end(this, typeid(ccPelRootCvt<T>));
}

template class ccPelRootCvt<unsigned char>;
template class ccPelRootCvt<short>;
template class ccPelRootCvt<unsigned short>;
template class ccPelRootCvt<uint32_t>;
template class ccPelRootCvt<double>;

// ---- ccPelBuffer<unsigned char>::fromCipImage ----

template <>
ccPelBuffer<unsigned char> ccPelBuffer<unsigned char>::fromCipImage(const cip_Image& image)
{
    void* storage = nullptr;
    ccThrowStatus(csys_handleGetObject(&image.storage, &storage));
    ccPelBuffer<unsigned char> buffer;
    if (storage) {
        buffer.bind(new ccPelRootCvt<unsigned char>(*static_cast<cip_ImageStorage*>(storage)));
        buffer.setWindow(image.windowX, image.windowY, image.width, image.height, false);
    }
    buffer.setWindowOffset(ccPelPoint{image.offsetX, image.offsetY});
    void* xform = nullptr;
    ccThrowStatus(csys_handleGetObject(&image.xform, &xform));
    if (xform)
        buffer.setClientXform(*cc2XformFromCip(static_cast<const cip_Xform*>(xform)));
    else
        buffer.setClientXform(cc2XformLinear());
    return buffer;
}

// ---- cc_CipImageView ----

cc_CipImageView::cc_CipImageView(const cc_PelBuffer& buffer)
{
    for (cip_Image& record : images_)
        ccThrowStatus(cip_imageInit(&record));
    try {
        attach(buffer, 0, 1, 0, false);
    } catch (...) {
        for (cip_Image& record : images_)
            (void)cip_imageRelease(&record); // the attach error is the one to report
        throw;
    }
}

cc_CipImageView::~cc_CipImageView()
{
    for (cip_Image& record : images_)
        (void)cip_imageRelease(&record); // a destructor drops a release error
}

void cc_CipImageView::attach(const cc_PelBuffer& buffer, int32_t /*reserved*/, int32_t pelSize, int32_t kind,
                             bool keepBuffer)
{
    TempImage made;
    const bool bound = buffer.isBound();
    if (bound) {
        const cc_PelRoot& root = buffer.root();
        void* data = nullptr;
        int32_t rootPelSize = 0;
        if (!rootPels(root, &data, &rootPelSize) || rootPelSize != pelSize)
            throw ccPel::Unknown();
        ccThrowStatus(cip_imageCreateOver(&made.image, pelSize, data, root.width(), root.height(), root.alignment(),
                                          root.stride()));
        const ccPelRect& w = buffer.windowRect();
        made.image.width = static_cast<int32_t>(w.width());
        made.image.height = static_cast<int32_t>(w.height());
        made.image.offsetX = buffer.windowOffset().x;
        made.image.offsetY = buffer.windowOffset().y;
        made.image.windowX = w.x0();
        made.image.windowY = w.y0();
    }
    const ccPtrHandle_const<cc2XformBase>& x = buffer.clientXform().xform();
    if (!x.rawPointer())
        throw ccBadPointer();
    TempRef xform;
    cc2XformToCip(x, &xform.slot);
    ccThrowStatus(csys_handleCopy(&made.image.xform, &xform.slot));
    // The view changes only once the record is filled: a refused buffer
    // leaves it showing what it showed.
    cip_Image* selected = &images_[recordOfKind(kind)];
    ccThrowStatus(cip_imageCopy(selected, &made.image));
    selected_ = selected;
    buffer_ = keepBuffer ? &buffer : nullptr;
    bound_ = bound;
}

void cc_CipImageView::release()
{
    csysStatus first = csysOk;
    for (cip_Image& record : images_) {
        const csysStatus st = cip_imageRelease(&record);
        if (first >= 0)
            first = st;
    }
    ccThrowStatus(first);
}
