// Status codes of the pixel kernels, beside the system layer's own.
#pragma once
#include "system/csys_status.h"

constexpr csysStatus cipErrBadWidth = csysMakeStatus(0x80000B41u);         // width < 1
constexpr csysStatus cipErrBadHeight = csysMakeStatus(0x80000B42u);        // height < 1
constexpr csysStatus cipErrBadStride = csysMakeStatus(0x80000B43u);        // a stride below the row it must hold
constexpr csysStatus cipErrBadWeight = csysMakeStatus(0x80000B44u);        // a negative colour weight
constexpr csysStatus cipErrWeightSum = csysMakeStatus(0x80000B45u);        // weights do not sum to 1 within 1e-6
constexpr csysStatus cipErrBadPhase = csysMakeStatus(0x80000B46u);         // mosaic phase not in 0..3
constexpr csysStatus cipErrPelFuncBadParams = csysMakeStatus(0x800006A2u); // pel function: a weight or offset not finite
