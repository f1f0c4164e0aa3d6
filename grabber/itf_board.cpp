// The board group's interfaces as tables: ids 1.. in each interface, with
// the collections' Item as their default member and _NewEnum at its usual id.
#include "grabber/itf_board.h"

#include <iterator>

#include "grabber/typelib.h"

// The module's own class and interface ids.
const IID IID_IQorFrameGrabber7320s = {0x6C1E2A50, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x10}};
const IID IID_IQorFrameGrabber7320 = {0x6C1E2A51, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x11}};
const IID IID_IQorInputLine = {0x6C1E2A52, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x12}};
const IID IID_IQorOutputLine = {0x6C1E2A53, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x13}};
const IID IID_IQorInputLines = {0x6C1E2A54, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x14}};
const IID IID_IQorOutputLines = {0x6C1E2A55, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x15}};
const IID DIID_IQorInputLineEvents = {0x6C1E2A56, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x16}};

namespace cc_grabber_types {
namespace {

using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;

IQorFrameGrabber7320s* boards(void* p) { return static_cast<IQorFrameGrabber7320s*>(p); }
IQorFrameGrabber7320* board(void* p) { return static_cast<IQorFrameGrabber7320*>(p); }
IQorOutputLine* out(void* p) { return static_cast<IQorOutputLine*>(p); }
IQorInputLines* ins(void* p) { return static_cast<IQorInputLines*>(p); }
IQorOutputLines* outs(void* p) { return static_cast<IQorOutputLines*>(p); }

// clang-format off
constexpr USHORT kIn = PARAMFLAG_FIN, kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const ParamEntry kRetObject[] = {{u"value", {VT_PTR, VT_DISPATCH}, kRet}};
const ParamEntry kRetUnknown[] = {{u"enumerator", {VT_PTR, VT_UNKNOWN}, kRet}};
const ParamEntry kItem[] = {{u"index", {VT_VARIANT}, kIn}, {u"value", {VT_PTR, VT_DISPATCH}, kRet}};
const ParamEntry kRetNames[] = {{u"names", {VT_PTR, VT_SAFEARRAY, VT_BSTR}, kRet}};
const ParamEntry kPorts[] = {{u"format", {VT_BSTR}, kIn}, {u"count", {VT_PTR, VT_I4}, kRet}};
const ParamEntry kCreateFifo[] = {{u"format", {VT_BSTR}, kIn}, {u"cameraPort", {VT_I4}, kIn}, {u"fifo", {VT_PTR, VT_DISPATCH}, kRet}};
const ParamEntry kPulse[] = {{u"level", {VT_BOOL}, kIn}, {u"milliseconds", {VT_R8}, kIn}};
const ParamEntry kChanged[] = {{u"value", {VT_BOOL}, kIn}};

const FunctionEntry kCollectionFunctions[] = {
    CC_ENTRY_GET(IQorFrameGrabber7320s, Count, 1, LONG),
    {u"Item", DISPID_VALUE, INVOKE_PROPERTYGET, kItem, 2, [](void* i, VARIANT* a, VARIANT* r) {
        IQorFrameGrabber7320* b = nullptr;
        const HRESULT hr = boards(i)->get_Item(a[0], &b);
        return dispatchResult(r, b, hr); }},
    {u"_NewEnum", DISPID_NEWENUM, INVOKE_PROPERTYGET, kRetUnknown, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_UNKNOWN; return boards(i)->get__NewEnum(&r->punkVal); }},
};

const FunctionEntry kBoardFunctions[] = {
    CC_ENTRY_GET(IQorFrameGrabber7320, Name, 1, BSTR),
    CC_ENTRY_GET(IQorFrameGrabber7320, SerialNumber, 2, BSTR),
    CC_ENTRY_GET(IQorFrameGrabber7320, UniqueID, 3, BSTR),
    {u"VideoFormats", 4, INVOKE_PROPERTYGET, kRetNames, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_ARRAY | VT_BSTR; return board(i)->get_VideoFormats(&r->parray); }},
    {u"NumCameraPorts", 5, INVOKE_PROPERTYGET, kPorts, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_I4; return board(i)->get_NumCameraPorts(a[0].bstrVal, &r->lVal); }},
    {u"CreateAcqFifo", 6, INVOKE_FUNC, kCreateFifo, 3, [](void* i, VARIANT* a, VARIANT* r) {
        IDispatch* fifo = nullptr;
        const HRESULT hr = board(i)->CreateAcqFifo(a[0].bstrVal, a[1].lVal, &fifo);
        return dispatchResult(r, fifo, hr); }},
    {u"InputLines", 7, INVOKE_PROPERTYGET, kRetObject, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_DISPATCH; return board(i)->get_InputLines(&r->pdispVal); }},
    {u"OutputLines", 8, INVOKE_PROPERTYGET, kRetObject, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_DISPATCH; return board(i)->get_OutputLines(&r->pdispVal); }},
};

const FunctionEntry kInputLineFunctions[] = {
    CC_ENTRY_GET(IQorInputLine, Value, 1, VARIANT_BOOL),
    CC_ENTRY_GET(IQorInputLine, LineNumber, 2, LONG),
    CC_ENTRY_PROP(IQorInputLine, Enabled, 3, VARIANT_BOOL),
};

const FunctionEntry kOutputLineFunctions[] = {
    CC_ENTRY_PROP(IQorOutputLine, Value, 1, VARIANT_BOOL),
    CC_ENTRY_GET(IQorOutputLine, LineNumber, 2, LONG),
    CC_ENTRY_PROP(IQorOutputLine, Enabled, 3, VARIANT_BOOL),
    {u"Pulse", 4, INVOKE_FUNC, kPulse, 2, [](void* i, VARIANT* a, VARIANT*) { return out(i)->Pulse(a[0].boolVal, a[1].dblVal); }},
};

const FunctionEntry kInputLinesFunctions[] = {
    CC_ENTRY_GET(IQorInputLines, Count, 1, LONG),
    {u"Item", DISPID_VALUE, INVOKE_PROPERTYGET, kItem, 2, [](void* i, VARIANT* a, VARIANT* r) {
        IQorInputLine* line = nullptr;
        const HRESULT hr = ins(i)->get_Item(a[0], &line);
        return dispatchResult(r, line, hr); }},
};

const FunctionEntry kOutputLinesFunctions[] = {
    CC_ENTRY_GET(IQorOutputLines, Count, 1, LONG),
    {u"Item", DISPID_VALUE, INVOKE_PROPERTYGET, kItem, 2, [](void* i, VARIANT* a, VARIANT* r) {
        IQorOutputLine* line = nullptr;
        const HRESULT hr = outs(i)->get_Item(a[0], &line);
        return dispatchResult(r, line, hr); }},
};
// Sinks implement it; the library only describes it.
const FunctionEntry kInputLineEventsFunctions[] = {
    {u"Changed", kInputLineChanged, INVOKE_FUNC, kChanged, 1, nullptr},
};
// clang-format on

} // namespace

const InterfaceEntry kFrameGrabber7320s = {&IID_IQorFrameGrabber7320s, u"IQorFrameGrabber7320s", kCollectionFunctions,
                                           std::size(kCollectionFunctions)};
const InterfaceEntry kFrameGrabber7320 = {&IID_IQorFrameGrabber7320, u"IQorFrameGrabber7320", kBoardFunctions,
                                          std::size(kBoardFunctions)};
const InterfaceEntry kInputLine = {&IID_IQorInputLine, u"IQorInputLine", kInputLineFunctions,
                                   std::size(kInputLineFunctions)};
const InterfaceEntry kOutputLine = {&IID_IQorOutputLine, u"IQorOutputLine", kOutputLineFunctions,
                                    std::size(kOutputLineFunctions)};
const InterfaceEntry kInputLines = {&IID_IQorInputLines, u"IQorInputLines", kInputLinesFunctions,
                                    std::size(kInputLinesFunctions)};
const InterfaceEntry kOutputLines = {&IID_IQorOutputLines, u"IQorOutputLines", kOutputLinesFunctions,
                                     std::size(kOutputLinesFunctions)};
const InterfaceEntry kInputLineEvents = {&DIID_IQorInputLineEvents, u"IQorInputLineEvents", kInputLineEventsFunctions,
                                         std::size(kInputLineEventsFunctions)};

} // namespace cc_grabber_types
