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

    // No planes; the plane pointers are null.
    ccPelRoot() = default;
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
    // Loaded planes that are missing or lack the stored geometry raise
    // ccArchive::BadContent and leave the root empty.
    void archive(ccArchive& ar) override;
    // Lets go of the planes (a remote root is made local without any call)
    // and empties the root.
    void releaseStorage() override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    // Whether all three planes exist and have this geometry; a plane whose
    // pels are elsewhere has no stride to compare.
    static bool planesFit(const ccPelRoot<unsigned char>* const planes[3], int32_t width, int32_t height,
                          int32_t stride);
    void takePlaneStarts();

    cc3PlanePel data_{};
    ccPtrHandle<cc_PelRoot> planes_[3];
};
