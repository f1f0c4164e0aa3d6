// The pel types of image memory and what each one means to a root: its size,
// the name its root is stored under and the archive primitive of one pel.
//
// "long" and "unsigned long" pels are 32 bits wide, as in the stored formats;
// their roots keep those names.
#pragma once
#include <cstdint>

#include "std/except/archive.h"

// Packed colour pels; the bit and byte layouts belong to the colour
// conversions.
struct ccPackedRGB16Pel {
    uint16_t value;
};
struct ccPackedRGB32Pel {
    uint32_t value;
};

// The pel of a three-plane colour root: the data starts of its planes.
struct cc3PlanePel {
    unsigned char* plane[3];
};

static_assert(sizeof(unsigned char) == 1 && sizeof(signed char) == 1, "8-bit pels");
static_assert(sizeof(unsigned short) == 2 && sizeof(short) == 2, "16-bit pels");
static_assert(sizeof(uint32_t) == 4 && sizeof(int32_t) == 4, "32-bit pels");
static_assert(sizeof(double) == 8, "double pels");
static_assert(sizeof(ccPackedRGB16Pel) == 2 && sizeof(ccPackedRGB32Pel) == 4, "packed pels");
static_assert(sizeof(cc3PlanePel) == 3 * sizeof(unsigned char*), "three plane pointers");

// Flags: which constructors a root of the type offers besides the default
// one. allocates: sized; zeroed: the allocated pels start at zero;
// foreign: over pool memory, over a pel package, remote; callerMemory: over
// memory with a caller's stride.
template <class T>
struct ccPelTraits;

#define cmPelTraits(T, RootName, Allocates, Zeroed, Foreign, CallerMemory)  \
    template <>                                                            \
    struct ccPelTraits<T> {                                                \
        static constexpr const char* rootName = RootName;                  \
        static constexpr bool allocates = Allocates;                       \
        static constexpr bool zeroed = Zeroed;                             \
        static constexpr bool foreign = Foreign;                           \
        static constexpr bool callerMemory = CallerMemory;                 \
        static void archive(ccArchive& ar, T& pel);                        \
    }

cmPelTraits(unsigned char, "class ccPelRoot<unsigned char>", true, false, true, true);
cmPelTraits(signed char, "class ccPelRoot<signed char>", false, false, false, false);
cmPelTraits(unsigned short, "class ccPelRoot<unsigned short>", true, false, false, false);
cmPelTraits(short, "class ccPelRoot<short>", true, false, false, false);
cmPelTraits(uint32_t, "class ccPelRoot<unsigned long>", true, false, false, false);
cmPelTraits(int32_t, "class ccPelRoot<long>", true, false, false, false);
cmPelTraits(double, "class ccPelRoot<double>", true, false, false, false);
cmPelTraits(ccPackedRGB16Pel, "class ccPelRoot<class ccPackedRGB16Pel>", true, true, true, false);
cmPelTraits(ccPackedRGB32Pel, "class ccPelRoot<class ccPackedRGB32Pel>", true, true, true, false);
#undef cmPelTraits

inline void ccPelTraits<unsigned char>::archive(ccArchive& ar, unsigned char& pel) { ar.archive(pel); }
inline void ccPelTraits<signed char>::archive(ccArchive& ar, signed char& pel) { ar.archive(pel); }
inline void ccPelTraits<unsigned short>::archive(ccArchive& ar, unsigned short& pel) { ar.archive(pel); }
inline void ccPelTraits<short>::archive(ccArchive& ar, short& pel) { ar.archive(pel); }
inline void ccPelTraits<uint32_t>::archive(ccArchive& ar, uint32_t& pel) { ar.archive(pel); }
inline void ccPelTraits<int32_t>::archive(ccArchive& ar, int32_t& pel) { ar.archive(pel); }
inline void ccPelTraits<double>::archive(ccArchive& ar, double& pel) { ar.archive(pel); }
inline void ccPelTraits<ccPackedRGB16Pel>::archive(ccArchive& ar, ccPackedRGB16Pel& pel) { ar.archive(pel.value); }
inline void ccPelTraits<ccPackedRGB32Pel>::archive(ccArchive& ar, ccPackedRGB32Pel& pel) { ar.archive(pel.value); }
