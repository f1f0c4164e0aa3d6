// The acquisition FIFO's own interface as a table.
#include "grabber/itf_fifo.h"

#include <iterator>

#include "grabber/typelib.h"

const IID IID_IQorAcqFifo7320 = {0x6C1E2A57, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x17}};

namespace cc_grabber_types {
namespace {

using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;

IQorAcqFifo7320* fifo(void* p) { return static_cast<IQorAcqFifo7320*>(p); }

// clang-format off
constexpr USHORT kIn = PARAMFLAG_FIN, kOut = PARAMFLAG_FOUT, kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const ParamEntry kComplete[] = {{u"ticket", {VT_I4}, kIn}, {u"triggerNumber", {VT_PTR, VT_I4}, kOut},
                                {u"image", {VT_PTR, VT_PTR, VT_USERDEFINED}, kRet}};
const ParamEntry kAcquire[] = {{u"triggerNumber", {VT_PTR, VT_I4}, kOut},
                               {u"image", {VT_PTR, VT_PTR, VT_USERDEFINED}, kRet}};

const FunctionEntry kFunctions[] = {
    {u"Start", ccAcqFifoStart, INVOKE_FUNC, kRetOf<VT_I4>, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_I4; return fifo(i)->Start(&r->lVal); }},
    {u"Complete", ccAcqFifoComplete, INVOKE_FUNC, kComplete, 3, [](void* i, VARIANT* a, VARIANT* r) {
        IQorImage* image = nullptr;
        return dispatchResult(r, image, fifo(i)->Complete(a[0].lVal, a[1].plVal, &image)); }},
    {u"Acquire", ccAcqFifoAcquire, INVOKE_FUNC, kAcquire, 2, [](void* i, VARIANT* a, VARIANT* r) {
        IQorImage* image = nullptr;
        const HRESULT hr = fifo(i)->Acquire(a[0].plVal, &image);
        return dispatchResult(r, image, hr); }},
    {u"Flush", ccAcqFifoFlush, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return fifo(i)->Flush(); }},
    CC_ENTRY_GET(IQorAcqFifo7320, PendingAcquisitions, ccAcqFifoPendingAcquisitions, LONG),
    CC_ENTRY_GET(IQorAcqFifo7320, CompletedAcquisitions, ccAcqFifoCompletedAcquisitions, LONG),
    CC_ENTRY_PROP(IQorAcqFifo7320, Timeout, ccAcqFifoTimeout, double),
    CC_ENTRY_GET(IQorAcqFifo7320, VideoFormat, ccAcqFifoVideoFormat, BSTR),
    CC_ENTRY_GET(IQorAcqFifo7320, CameraPort, ccAcqFifoCameraPort, LONG),
    CC_ENTRY_GET(IQorAcqFifo7320, BoardIndex, ccAcqFifoBoardIndex, LONG),
    {u"AddDotNetMovePartSink", ccAcqFifoAddDotNetMovePartSink, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return fifo(i)->AddDotNetMovePartSink(); }},
    {u"AddDotNetCompleteSink", ccAcqFifoAddDotNetCompleteSink, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return fifo(i)->AddDotNetCompleteSink(); }},
    {u"AddDotNetOverrunSink", ccAcqFifoAddDotNetOverrunSink, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return fifo(i)->AddDotNetOverrunSink(); }},
    {u"RemoveDotNetMovePartSink", ccAcqFifoRemoveDotNetMovePartSink, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return fifo(i)->RemoveDotNetMovePartSink(); }},
    {u"RemoveDotNetCompleteSink", ccAcqFifoRemoveDotNetCompleteSink, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return fifo(i)->RemoveDotNetCompleteSink(); }},
    {u"RemoveDotNetOverrunSink", ccAcqFifoRemoveDotNetOverrunSink, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return fifo(i)->RemoveDotNetOverrunSink(); }},
};
// clang-format on

} // namespace

const InterfaceEntry kAcqFifo7320 = {&IID_IQorAcqFifo7320, u"IQorAcqFifo7320", kFunctions, std::size(kFunctions)};

} // namespace cc_grabber_types
