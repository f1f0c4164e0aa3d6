#include "modules/family.h"

#include <iterator>

#include "modules/fgproxy.h"

namespace {

// The model interface board answers for id, or null.
cc_ModPtr<ccIUnknown> modelOf(ccIUnknown* board, int32_t id)
{
    return ccModQuery<ccIUnknown>(board, id);
}

template <class Board>
std::unique_ptr<ccUnknownFG> build(std::unique_ptr<cc_BoardEntry>& entry, cc_ModPtr<ccIUnknown> model)
{
    return std::make_unique<Board>(std::move(entry), std::move(model));
}

// A Board over the model interface when board answers id, else null.
template <class Board>
std::unique_ptr<ccUnknownFG> buildFor(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board, int32_t id)
{
    cc_ModPtr<ccIUnknown> model = modelOf(board, id);
    return model ? build<Board>(entry, std::move(model)) : nullptr;
}

// A WithVariant when the model interface's variant (slot 3) is not 0, else a
// Plain. No engine exists yet: a failure raises through the module itself.
template <class WithVariant, class Plain>
std::unique_ptr<ccUnknownFG> buildByVariant(std::unique_ptr<cc_BoardEntry>& entry, cc_ModPtr<ccIUnknown> model)
{
    uint32_t value = 0;
    if (static_cast<ccIBoard_Variant*>(model.get())->variant(&value) != 0)
        entry->module->raiseLastError();
    return value != 0 ? build<WithVariant>(entry, std::move(model)) : build<Plain>(entry, std::move(model));
}

} // namespace

std::unique_ptr<ccUnknownFG> cc7310c::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    cc_ModPtr<ccIUnknown> model = modelOf(board, ccIid7310);
    return model ? buildByVariant<cc7310c, cc7310m>(entry, std::move(model)) : nullptr;
}

std::unique_ptr<ccUnknownFG> cc7310l::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    return buildFor<cc7310l>(entry, board, ccIid7310l);
}

std::unique_ptr<ccUnknownFG> cc7312::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    return buildFor<cc7312>(entry, board, ccIid7312);
}

std::unique_ptr<ccUnknownFG> cc7351::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    if (cc_ModPtr<ccIUnknown> model = modelOf(board, ccIid735x))
        return buildByVariant<cc7354, cc7351>(entry, std::move(model));
    return buildFor<cc7350l>(entry, board, ccIid7350l);
}

cc7360::cc7360(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model)
    : cc_CodedBoard(std::move(entry), std::move(model))
{
    const int32_t ids[] = {ccIid7360A, ccIid7360B, ccIid7360C};
    for (size_t i = 0; i < std::size(ids); ++i)
        held_[i] = ccModQuery<ccIUnknown>(boardInterface(), ids[i]);
}

cc7360::~cc7360()
{
    leaveTable();
    cc7360::close();
}

std::unique_ptr<ccUnknownFG> cc7360::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    return buildFor<cc7360>(entry, board, ccIid7360);
}

void cc7360::close()
{
    closeParallelIO();
    // All three: none has a user here, and each holds a module reference.
    for (cc_ModPtr<ccIUnknown>& held : held_)
        held.reset();
    cc_IOBoard::close();
}

cc7370::cc7370(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board)
    : cc_TabledBoard(std::move(entry), std::move(board)), held_(ccModQuery<ccIUnknown>(boardInterface(), ccIid7370))
{
}

cc7370::~cc7370()
{
    leaveTable();
    cc7370::close();
}

std::unique_ptr<ccUnknownFG> cc7370::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    if (!modelOf(board, ccIid7370))
        return nullptr;
    // The board keeps the board interface itself, with a reference of its own.
    board->addRef();
    return build<cc7370>(entry, cc_ModPtr<ccIUnknown>(board));
}

void cc7370::close()
{
    held_.reset();
    ccUnknownFG::close();
}

// ---- cc7310d ----

cc7310d::cc7310d(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model)
    : cc_TabledBoard(std::move(entry), std::move(model)), ccQorLinkFrameGrabber(std::wstring(), nullptr)
{
}

cc7310d::~cc7310d()
{
    leaveTable();
    cc7310d::close();
}

std::unique_ptr<ccUnknownFG> cc7310d::make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board)
{
    return buildFor<cc7310d>(entry, board, ccIid7310d);
}

void cc7310d::close()
{
    closeParallelIO();
    for (std::shared_ptr<ccQorLinkCamera>& camera : cameras_) {
        if (camera)
            camera->close(); // a FIFO may keep it: nothing of the board stays reachable
        camera.reset();
    }
    cc_IOBoard::close();
}

int32_t cc7310d::ioCode(cc_UnknownFrameGrabber& engine)
{
    return engine.coreValue() == 1 ? 9 : 11;
}

cc_FrameGrabber* cc7310d::createFrameGrabberImpl()
{
    cc_FrameGrabber* engine = cc_IOBoard::createFrameGrabberImpl();
    if (engine == nullptr)
        return nullptr;
    auto* channels = static_cast<ccIBoard_Channels*>(boardInterface());
    const ccFrameGrabber& grabber = *this;
    for (uint32_t i = 0; i < kChannels; ++i) {
        cc_ModPtr<ccIUnknown> channel;
        ccModCheck(*implementation(), channels->channel(i, channel.put()));
        cc_ModPtr<ccIQorLink_Camera> camera = ccModQuery<ccIQorLink_Camera>(channel.get(), ccIidLinkCamera);
        if (!camera)
            continue;
        uint32_t present = 0;
        ccModCheck(*implementation(), camera->present(&present));
        if (present != 0 && !cameras_[i])
            cameras_[i] = std::make_shared<ccQorLinkCamera>(camera.get(), grabber, std::to_wstring(i));
    }
    return engine;
}

ccQorLinkCamera* cc7310d::camera(uint32_t i)
{
    if (i >= kChannels)
        return nullptr;
    (void)frameGrabberImpl();
    return cameras_[i].get();
}

ccQorDevice* cc7310d::child(int32_t channel)
{
    return channel < 0 ? nullptr : camera(static_cast<uint32_t>(channel));
}
