// The kernel layer's light image kit: pel buffers that live in one heap
// block with their header and a small client transform, reached through a
// table of functions per pel type.
//
// A created buffer's block holds the header, the seven transform values and
// the pels, which start on a multiple of 8 bytes; rows are padded to a
// multiple of 8 bytes. Aliases and sub-views are further headers over the
// same pels: they do not keep the pels alive and must be freed before, or
// without touching, the buffer whose block holds them. Nothing counts
// references and no operation reports a status: those that allocate return
// null when they cannot.
#pragma once
#include <cstdint>

struct cip_PelBufType;

struct cip_PelBufRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct cip_PelBuf {
    const cip_PelBufType* type;
    int32_t x;      // image coordinates of the window's first column
    int32_t y;      // and first row
    int32_t width;  // 0 when the window is empty
    int32_t height; // 0 when the window is empty
    int32_t pitch;  // bytes from one row to the next
    float* xform;   // seven values, or null
    // Where the pel at image coordinates (0, 0) would lie: pel (x, y) is at
    // origin + y x pitch + x x pel size. Kept as a number because it may lie
    // outside the block; only pels inside the window are ever touched.
    intptr_t origin;
};

// The seven transform values of a new buffer.
extern const float cip_pelBufDefaultXform[7];

struct cip_PelBufType {
    int32_t code;
    // The intersection of source's window and rect, over the same pels
    // (transform shared). A null destination is allocated as a bare header.
    cip_PelBuf* (*subView)(const cip_PelBuf* source, cip_PelBuf* destination, const cip_PelBufRect* rect);
    // The window's first pel gets image coordinates (x, y); no pel moves.
    cip_PelBuf* (*setOrigin)(cip_PelBuf* buffer, int32_t x, int32_t y);
    // Frees the buffer's block: header, transform and pels of a created
    // buffer; only the header (and its transform) of an alias or sub-view.
    void (*free)(cip_PelBuf* buffer);
    // A new buffer of rect's size whose window starts at rect's (x, y); a
    // width or height below 1 gives an empty window.
    cip_PelBuf* (*createLike)(const cip_PelBufRect* rect);
    // Every pel of the window becomes value's low pel-size bytes.
    cip_PelBuf* (*fill)(cip_PelBuf* buffer, uint32_t value);
    // The pel at image coordinates (x, y), widened to 32 bits (sign-extended
    // for the 16-bit signed family); callers stay inside the window.
    int32_t (*getPel)(const cip_PelBuf* buffer, int32_t x, int32_t y);
    // Copies the pels where the two windows meet (in image coordinates) and
    // the source's transform values (or the defaults) into the destination's
    // transform, when it has one. A null destination is made like the
    // source's window. A destination of another pel size gives null, and so
    // does a failed allocation, without touching anything.
    cip_PelBuf* (*copy)(const cip_PelBuf* source, cip_PelBuf* destination);
    // A second header over the same pels, with the transform storage given,
    // else (for a header allocated here) its own, else none; the source's
    // transform values are copied into it.
    cip_PelBuf* (*alias)(const cip_PelBuf* source, cip_PelBuf* destination, float* xformStorage);
};

extern const cip_PelBufType cip_pelBufU8;  // code 0: 8-bit unsigned
extern const cip_PelBufType cip_pelBufS16; // code 1: 16-bit signed
extern const cip_PelBufType cip_pelBufU16; // code 8: 16-bit unsigned
extern const cip_PelBufType cip_pelBuf32;  // code 2: 32-bit
extern const cip_PelBufType cip_pelBuf32B; // code 9: 32-bit

// Window rectangles. A width or height below 1 makes both 0.
void cip_pbRectSet(int32_t x, int32_t y, int32_t width, int32_t height, cip_PelBufRect* rect);
// 1 when the width or height is below 1.
int32_t cip_pbRectIsEmpty(const cip_PelBufRect* rect);
void cip_pbRectSetOrigin(cip_PelBufRect* rect, int32_t x, int32_t y);
// Width and height 0 (at the computed corner) when a and b do not meet.
void cip_pbRectIntersect(const cip_PelBufRect* a, const cip_PelBufRect* b, cip_PelBufRect* out);
