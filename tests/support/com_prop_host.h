// A stand-in for the acquisition FIFO object that the property mixins are
// written against: it derives from the mixins it is given, holds a library
// FIFO of a built-in format on the simulated board, runs each property call
// under its lock inside the one error handler, and records the member ids of
// the changes it is told of.
#pragma once
#include <memory>
#include <mutex>
#include <vector>

#include "acq/hyper/prop/propquery.h"
#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "comframe/archive.h"
#include "comframe/classids.h"
#include "comframe/comerror.h"
#include "modules/unknownfg.h"
#include "platform/com/serializer.h"

template <template <class> class... Mixins>
class ccComPropHost : public Mixins<ccComPropHost<Mixins...>>... {
public:
    ccComPropHost()
        : fifo_(std::make_unique<ccStdGreyAcqFifo>(ccVidFmtSonyXC75_640x480(), cc7320::getBoard(0))),
          query_(fifo_->propertyQuery())
    {
    }
    ccComPropHost(const ccComPropHost&) = delete;
    ccComPropHost& operator=(const ccComPropHost&) = delete;
    virtual ~ccComPropHost() = default;

    // The contract.
    template <class F> HRESULT propertyCall(const IID& itf, const OLECHAR* method, F&& body)
    {
        const ccCOMErrorContext context{&CLSID_QorAcqFifo7320, &itf, method};
        return ccComMethod(context, nullptr, [&]() -> HRESULT {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            return body(*query_);
        });
    }
    void propertyChanged(DISPID memberId) { changed.push_back(memberId); }

    // Each supported mixin's values, in the order of the arguments, as the
    // FIFO's Persist hands them over.
    HRESULT persist(IQorArchive* archive, LONG flags)
    {
        const ccCOMErrorContext context{&CLSID_QorAcqFifo7320, &IID_IQorObject, u"Persist"};
        return ccComMethod(context, nullptr, [&]() -> HRESULT {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            (persistOne<Mixins<ccComPropHost>>(archive, flags), ...);
            return S_OK;
        });
    }
    template <class Mixin> bool supports() { return Mixin::isSupported(*query_); }

    ccStdGreyAcqFifo& fifo() { return *fifo_; }
    ccAcqPropertyQuery& query() { return *query_; }

    // The member ids propertyChanged was called with, oldest first.
    std::vector<DISPID> changed;

    // A host lives on the test's stack: counting and queries do nothing, and
    // its IDispatch is the type information's business, not the host's.
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        if (count) *count = 0;
        return E_NOTIMPL;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

private:
    template <class Mixin> void persistOne(IQorArchive* archive, LONG flags)
    {
        if (Mixin::isSupported(*query_)) Mixin::persistValues(*this, archive, flags, *query_);
    }

    std::recursive_mutex lock_;
    std::unique_ptr<ccStdGreyAcqFifo> fifo_;
    ccAcqPropertyQuery* query_;
};
