// The acquisition FIFO's own dual interface: what a client needs to acquire.
// Trigger models and the other acquisition properties belong to the FIFO's
// property interfaces.
#pragma once
#include "platform/com/image.h"
#include "platform/com/typeinfo.h"

extern const IID IID_IQorAcqFifo7320;

struct IQorAcqFifo7320 : IDispatch {
    // Starts an acquisition; *ticket names it for Complete.
    virtual HRESULT Start(LONG* ticket) = 0;
    // Completes the acquisition of ticket (-1: the oldest completed one).
    virtual HRESULT Complete(LONG ticket, LONG* triggerNumber, IQorImage** image) = 0;
    // Starts one acquisition and waits for it.
    virtual HRESULT Acquire(LONG* triggerNumber, IQorImage** image) = 0;
    virtual HRESULT Flush() = 0;
    virtual HRESULT get_PendingAcquisitions(LONG* count) = 0;
    virtual HRESULT get_CompletedAcquisitions(LONG* count) = 0;
    // Seconds; infinity waits without limit.
    virtual HRESULT get_Timeout(double* seconds) = 0;
    virtual HRESULT put_Timeout(double seconds) = 0;
    virtual HRESULT get_VideoFormat(BSTR* name) = 0;
    virtual HRESULT get_CameraPort(LONG* port) = 0;
    virtual HRESULT get_BoardIndex(LONG* index) = 0;
    // The .NET layer listens to the acquisition events through these.
    virtual HRESULT AddDotNetMovePartSink() = 0;
    virtual HRESULT AddDotNetCompleteSink() = 0;
    virtual HRESULT AddDotNetOverrunSink() = 0;
    virtual HRESULT RemoveDotNetMovePartSink() = 0;
    virtual HRESULT RemoveDotNetCompleteSink() = 0;
    virtual HRESULT RemoveDotNetOverrunSink() = 0;
};

// The FIFO's member ids, also the memberId of its "changed" events.
enum ccAcqFifoMember : DISPID {
    ccAcqFifoStart = 1,
    ccAcqFifoComplete,
    ccAcqFifoAcquire,
    ccAcqFifoFlush,
    ccAcqFifoPendingAcquisitions,
    ccAcqFifoCompletedAcquisitions,
    ccAcqFifoTimeout,
    ccAcqFifoVideoFormat,
    ccAcqFifoCameraPort,
    ccAcqFifoBoardIndex,
    ccAcqFifoAddDotNetMovePartSink,
    ccAcqFifoAddDotNetCompleteSink,
    ccAcqFifoAddDotNetOverrunSink,
    ccAcqFifoRemoveDotNetMovePartSink,
    ccAcqFifoRemoveDotNetCompleteSink,
    ccAcqFifoRemoveDotNetOverrunSink,
};
