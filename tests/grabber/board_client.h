// The board objects as a client reaches them: the collection made by its
// ProgID, and small helpers for the calls the tests make.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <typeinfo>

#include "comframe/objectitfs.h"
#include "grabber/itf_board.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "tests/support/com_prop_host.h"

namespace board_client {

template <class I> using Held = plat::com::Ref<I>;

inline VARIANT position(LONG i)
{
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = i;
    return v;
}

// A new object of the class progId names, as iid.
template <class I> Held<I> made(const char16_t* progId, REFIID iid)
{
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    Held<I> made;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, made.out()), S_OK);
    return made;
}

template <class I> Held<I> query(IUnknown* object, REFIID iid)
{
    Held<I> itf;
    EXPECT_EQ(object->QueryInterface(iid, itf.out()), S_OK);
    return itf;
}

inline Held<IQorFrameGrabber7320s> collection()
{
    return made<IQorFrameGrabber7320s>(u"Qoralt.QorFrameGrabber7320s", IID_IQorFrameGrabber7320s);
}

// Board i of a new collection, which the board keeps alive.
inline Held<IQorFrameGrabber7320> board(LONG i = 0)
{
    Held<IQorFrameGrabber7320> board;
    EXPECT_EQ(collection()->get_Item(position(i), &board.p), S_OK);
    return board;
}

// The line collection's item i as Line.
template <class Lines, class Line> Held<Line> lineAt(IDispatch* lines, REFIID linesIid, LONG i)
{
    Held<Line> line;
    EXPECT_EQ(query<Lines>(lines, linesIid)->get_Item(position(i), &line.p), S_OK);
    return line;
}

// The library object behind object (its GetImpl).
inline void* implOf(IUnknown* object)
{
    void* impl = nullptr;
    EXPECT_EQ(query<IQorComInternal>(object, IID_IQorComInternal)->GetImpl(&impl), S_OK);
    return impl;
}

// What an object's SetImpl is given that is not of its kind.
struct RefusedImpl {
    const char* why;
    const std::type_info& kind;
    void* impl;
};
// Each case is refused with E_INVALIDARG and error information, and leaves
// the library object behind object, and what unchanged() checks, as they were.
inline void expectImplRefused(IUnknown* object, std::initializer_list<RefusedImpl> cases,
                              const std::function<void()>& unchanged = [] {})
{
    void* const before = implOf(object);
    for (const RefusedImpl& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(query<IQorComInternal>(object, IID_IQorComInternal)->SetImpl(c.kind, c.impl), E_INVALIDARG);
        EXPECT_FALSE(ccTestErrorText().empty());
        EXPECT_EQ(implOf(object), before);
        unchanged();
    }
}

inline std::wstring text(BSTR b)
{
    std::wstring t = plat::com::wideFromBstr(b);
    SysFreeString(b);
    return t;
}

} // namespace board_client
