// Frames of a completed acquisition turned into pel buffers and images over
// the module's memory, without copying pels; and the library's pel-root pool
// offered to the module. Used by the module FIFO.
#pragma once
#include <cstdint>

#include "acq/image/acqimage.h"
#include "modules/ccicomponent.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/rootpool.h"
#include "std/ptrhandle.h"

class cc_UnknownFrameGrabber;

// Each leaves out unbound when the result reports no frame (or a null
// address). The buffers keep the result alive through their package.

// Result kind 1, module pel format 8 or 1.
void cf_packedFromResult(ccIAcqResult_Format* format, ccIAcqResult_Image* image,
                         ccPelBuffer<ccPackedRGB16Pel>& out);
void cf_packedFromResult(ccIAcqResult_Format* format, ccIAcqResult_Image* image,
                         ccPelBuffer<ccPackedRGB32Pel>& out);
// Result kind 1, any other module pel format: the window in bytes.
void cf_rawFromFormat(ccIAcqResult_Format* format, ccIAcqResult_Image* image, ccPelBuffer<unsigned char>& out);
// Through 26.
void cf_rawFromRawPels(ccIAcqResult_RawPels* raw, ccPelBuffer<unsigned char>& out);
// Result kind 3: an acquired image of code 12 (empty handle without a frame).
ccPtrHandle<ccAcqImage> cf_threePlaneFromResult(ccIAcqResult_Format* format, ccIAcqResult_Image* image);
// A frame in the module's memory (25 slot 16 set), reached through the
// grabber's accelerator; takes over one reference to result.
void cf_remoteFromResult(cc_UnknownFrameGrabber& grabber, ccIUnknown* result, ccIAcqResult_Image* image,
                         ccPelBuffer<unsigned char>& out);

// Bytes per pel of a module pel format, times two (format 5 is 1.5).
int32_t cf_twiceBytesPerPel(int32_t moduleFormat);

// A new pool object over pool (count 0: the caller adds the first reference).
ccIPelPool_Core_v0* cf_newModulePelPool(const ccPtrHandle<ccPelRootPool>& pool);
