// The three-plane colour root: three 8-bit plane roots of one geometry,
// tied together. Its own width, height, stride and alignment describe each
// plane; it owns no block of its own.
#pragma once
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelroot.h"

template <>
class ccPelRoot<cc3PlanePel> : public cc_PelRoot {
public:
    typedef cc3PlanePel pel_type;
    static constexpr const char* kStoredName = "class ccPelRoot<class cc3PlanePel>";
    static ccPersistent* cmCreate();

    // No planes; the data start is {0, 1, 2}.
    ccPelRoot() : data_(emptyStarts()) {}
    // Takes over the roots of three plane buffers, which are left unbound;
    // each root's count is unchanged, the reference having moved here.
    // Geometry comes from plane 0's root, the stride from the rule.
    // ccPel::UnboundWindow for an unbound plane buffer and ccPel::BadWindow
    // for planes of another geometry, before anything is taken over.
    ccPelRoot(ccPelBuffer<unsigned char>& plane0, ccPelBuffer<unsigned char>& plane1,
              ccPelBuffer<unsigned char>& plane2);

    // The root of plane i (0, 1 or 2), or null; drops this root from
    // archive tables first, as callers may write through it.
    cc_PelRoot* plane(int i);
    // The data starts of the three planes.
    const cc3PlanePel& dataStart() const { return data_; }

    // The root level, then: a local root has a plane 0, a remote one none.
    void checkInvariants() const override;
    // Version byte (read and not checked), the cc_PelRoot level, then the
    // three plane roots as object pointers. The planes archive their pels.
    // A root stored without planes loads as one; loaded planes that are
    // missing or lack the stored geometry raise ccArchive::BadContent and
    // leave the root empty.
    void archive(ccArchive& ar) override;
    // Lets go of the planes (a remote root is made local without any call)
    // and empties the root.
    void releaseStorage() override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    // The data start of a root without planes: plane 0 null, planes 1 and 2
    // the values 1 and 2, which no plane can start at.
    static cc3PlanePel emptyStarts();
    // Whether all three planes exist and have this geometry; a plane whose
    // pels are elsewhere has no stride to compare.
    static bool planesFit(const ccPelRoot<unsigned char>* const planes[3], int32_t width, int32_t height,
                          int32_t stride);
    void takePlaneStarts();

    cc3PlanePel data_;
    ccPtrHandle<cc_PelRoot> planes_[3];
};

// A window on a three-plane root, with the colour space its planes are in.
class cc3PlanePelBuffer : public ccPelBuffer<cc3PlanePel> {
public:
    // The colour space of every buffer made here (RGB).
    static constexpr int32_t kDefaultColorSpace = 1;

    cc3PlanePelBuffer() = default;
    // Shares root (a three-plane root, or null).
    explicit cc3PlanePelBuffer(cc_PelRoot* root) : ccPelBuffer<cc3PlanePel>(root) {}
    // A new three-plane root made of the roots of the three plane buffers,
    // which are left unbound (see ccPelRoot<cc3PlanePel>); the window, its
    // image coordinates and the client transform are plane 0's.
    cc3PlanePelBuffer(ccPelBuffer<unsigned char>& plane0, ccPelBuffer<unsigned char>& plane1,
                      ccPelBuffer<unsigned char>& plane2);

    // Plane i (0, 1 or 2) with this buffer's window, image coordinates and
    // client transform. Another i, or a three-plane root without that plane,
    // gives an unbound buffer with the image coordinates and transform; an
    // unbound buffer gives an unbound copy of itself.
    ccPelBuffer<unsigned char> plane(int i) const;

    int32_t colorSpace() const { return colorSpace_; }

private:
    int32_t colorSpace_ = kDefaultColorSpace;
};

// Colour-space errors; raised by other parts of the library and carried in
// archives.
class ccColorSpaceDefs {
public:
    cmDeclareErrorFamily(Errors, ccExceptionWithString, "class ccColorSpaceDefs::Errors");
    cmDeclareException(BadColorSpace, Errors, 0x1000040Au, "class ccColorSpaceDefs::BadColorSpace");
};
