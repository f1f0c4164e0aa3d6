#include "std/pelbuf/pelroot3.h"

#include "std/except/archive.h"
#include "std/except/archutil.h"
#include "std/except/persist.h"

typedef ccPelRoot<unsigned char> PlaneRoot;

cc3PlanePel ccPelRoot<cc3PlanePel>::emptyStarts()
{
    cc3PlanePel p;
    p.plane[0] = nullptr;
    p.plane[1] = reinterpret_cast<unsigned char*>(uintptr_t{1});
    p.plane[2] = reinterpret_cast<unsigned char*>(uintptr_t{2});
    return p;
}

ccPersistent* ccPelRoot<cc3PlanePel>::cmCreate() { return new (std::nothrow) ccPelRoot<cc3PlanePel>; }

ccPelRoot<cc3PlanePel>::ccPelRoot(ccPelBuffer<unsigned char>& plane0, ccPelBuffer<unsigned char>& plane1,
                                  ccPelBuffer<unsigned char>& plane2)
    : data_(emptyStarts())
{
    ccPelBuffer<unsigned char>* buffers[3] = {&plane0, &plane1, &plane2};
    PlaneRoot* roots[3];
    for (int i = 0; i < 3; ++i)
        roots[i] = &buffers[i]->typedRoot();
    const PlaneRoot& first = *roots[0];
    checkShape(first.width(), first.height(), first.alignment());
    const int32_t stride = ruleStride(first.width(), 1, first.alignment());
    if (!planesFit(roots, first.width(), first.height(), stride))
        throw ccPel::BadWindow();
    width_ = first.width();
    height_ = first.height();
    alignment_ = first.alignment();
    stride_ = stride;
    for (int i = 0; i < 3; ++i) {
        data_.plane[i] = roots[i]->dataStart();
        planes_[i] = roots[i];
    }
    for (ccPelBuffer<unsigned char>* b : buffers)
        b->releaseRoot();
}

bool ccPelRoot<cc3PlanePel>::planesFit(const PlaneRoot* const planes[3], int32_t width, int32_t height,
                                       int32_t stride)
{
    // Every plane is read with the root's geometry, so every plane must have it.
    for (int i = 0; i < 3; ++i) {
        const PlaneRoot* r = planes[i];
        if (!r || r->width() != width || r->height() != height || (r->dataStart() && r->stride() != stride))
            return false;
    }
    return true;
}

cc_PelRoot* ccPelRoot<cc3PlanePel>::plane(int i)
{
    markModified();
    return i >= 0 && i < 3 ? planes_[i].rawPointer() : nullptr;
}

void ccPelRoot<cc3PlanePel>::checkInvariants() const
{
    cc_PelRoot::checkInvariants();
    if (destination_ ? data_.plane[0] != nullptr : data_.plane[0] == nullptr)
        throw ccInvariantFailure();
}

void ccPelRoot<cc3PlanePel>::takePlaneStarts()
{
    // Read directly, not through plane(): the root is being loaded and must
    // stay in the archive's table for later references to it.
    const PlaneRoot* first = static_cast<const PlaneRoot*>(planes_[0].rawPointer());
    if (!first || !first->dataStart())
        return;
    for (int i = 0; i < 3; ++i) {
        const PlaneRoot* r = static_cast<const PlaneRoot*>(planes_[i].rawPointer());
        data_.plane[i] = r ? r->dataStart() : nullptr;
    }
}

void ccPelRoot<cc3PlanePel>::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccPelRoot<cc3PlanePel>)))
        return;
    if (ar.isLoading()) {
        prepareForLoad();
        data_ = emptyStarts();
    }
    uint8_t version = 0;
    ar.archive(version);
    cc_PelRoot::archive(ar);
    if (ar.isLoading() && (width_ != 0 || height_ != 0 || alignment_ != 0)) {
        try {
            stride_ = ruleStride(width_, 1, alignment_);
        } catch (...) {
            clearGeometry();
            throw;
        }
    }
    for (ccPtrHandle<cc_PelRoot>& plane : planes_) {
        // Planes are 8-bit roots by construction; on loading, an object of
        // another class comes back as no plane.
        const PlaneRoot* stored = static_cast<const PlaneRoot*>(plane.rawPointer());
        PlaneRoot* loaded = nullptr;
        if (ar.isLoading())
            plane = nullptr;
        archivePointer(ar, stored, loaded);
        if (ar.isLoading())
            plane = loaded;
    }
    if (ar.isLoading()) {
        // The stored geometry is only believed when the planes agree with it;
        // a root stored without planes and geometry is an empty one.
        const PlaneRoot* loaded[3];
        for (int i = 0; i < 3; ++i)
            loaded[i] = static_cast<const PlaneRoot*>(planes_[i].rawPointer());
        const bool empty = !loaded[0] && !loaded[1] && !loaded[2] && width_ == 0 && height_ == 0 && alignment_ == 0;
        if (!empty && !planesFit(loaded, width_, height_, stride_)) {
            for (ccPtrHandle<cc_PelRoot>& plane : planes_)
                plane = nullptr;
            clearGeometry();
            throw ccArchive::BadContent("pelroot3", __LINE__);
        }
        takePlaneStarts();
    }
    ccArchiveVisit::end(this, typeid(ccPelRoot<cc3PlanePel>));
}

void ccPelRoot<cc3PlanePel>::releaseStorage()
{
    if (destination_)
        makeLocal();
    else
        for (ccPtrHandle<cc_PelRoot>& plane : planes_)
            plane = nullptr;
    clearGeometry();
    data_ = emptyStarts();
}

namespace {

// Places a plane buffer as the three-plane buffer it comes from.
class PlaneBuffer : public ccPelBuffer<unsigned char> {
public:
    void placeAs(const cc_PelBuffer& source, bool keepWindow)
    {
        if (keepWindow)
            copyPlacement(source);
        else
            setWindowOffset(source.windowOffset());
        copyClientXform(source);
    }
};

class ThreePlaneBuffer : public ccPelBuffer<cc3PlanePel> {
public:
    void bindAs(cc_PelRoot* root, const cc_PelBuffer& plane0)
    {
        bindNew(root, 0, 0);
        setWindow(plane0.windowRect(), false);
        setWindowOffset(plane0.windowOffset());
        copyClientXform(plane0);
    }
};

} // namespace

cc3PlanePelBuffer::cc3PlanePelBuffer(ccPelBuffer<unsigned char>& plane0, ccPelBuffer<unsigned char>& plane1,
                                     ccPelBuffer<unsigned char>& plane2)
{
    ThreePlaneBuffer made;
    // Plane 0 keeps its window, offset and transform when the root takes
    // its pels.
    made.bindAs(new ccPelRoot<cc3PlanePel>(plane0, plane1, plane2), plane0);
    ccPelBuffer<cc3PlanePel>::operator=(made);
}

ccPelBuffer<unsigned char> cc3PlanePelBuffer::plane(int i) const
{
    PlaneBuffer out;
    if (!isBound()) {
        out.placeAs(*this, true);
        return out;
    }
    cc_PelRoot* root = i >= 0 && i < 3 ? const_cast<ccPelRoot<cc3PlanePel>&>(typedRoot()).plane(i) : nullptr;
    if (root) {
        out.bind(root);
        out.setWindow(windowRect(), false);
    }
    out.placeAs(*this, false);
    return out;
}
