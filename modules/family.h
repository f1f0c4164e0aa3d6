// The board family beside the 7320: one class per model, each recognised by
// the model id its board interface answers, entered in a table of its own
// and binding its lines with its model's I/O configuration.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "modules/devices.h"
#include "modules/modptr.h"
#include "modules/unknownfg.h"

// A model whose lines are bound with one I/O configuration code.
template <class Self, int32_t Code>
class cc_CodedBoard : public cc_TabledBoard<Self, cc_IOBoard> {
public:
    static constexpr uint32_t kTableSize = 16;

    // model is the interface that answers for the model.
    cc_CodedBoard(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model)
        : cc_TabledBoard<Self, cc_IOBoard>(std::move(entry), std::move(model))
    {
    }

protected:
    int32_t ioCode(cc_UnknownFrameGrabber&) override { return Code; }
};

// A 735x model (67); its flag: the model interface answers 117.
template <class Self, int32_t Code>
class cc_735xBoard : public cc_CodedBoard<Self, Code> {
public:
    cc_735xBoard(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model)
        : cc_CodedBoard<Self, Code>(std::move(entry), std::move(model)),
          extra_(static_cast<bool>(ccModQuery<ccIUnknown>(this->boardInterface(), ccIid735xExtra)))
    {
    }
    bool extraFlag() const { return extra_; }

private:
    bool extra_;
};

// 64 with a variant other than 0.
class cc7310c : public cc_CodedBoard<cc7310c, 8> {
public:
    static constexpr const wchar_t* kModel = L"7310c";
    using cc_CodedBoard::cc_CodedBoard;
    // Makes a cc7310c or a cc7310m; a variant the module fails to give
    // raises its error.
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);
};

// 64 with variant 0.
class cc7310m : public cc_CodedBoard<cc7310m, 8> {
public:
    static constexpr const wchar_t* kModel = L"7310m";
    using cc_CodedBoard::cc_CodedBoard;
};

class cc7310l : public cc_CodedBoard<cc7310l, 8> {
public:
    static constexpr const wchar_t* kModel = L"7310l";
    using cc_CodedBoard::cc_CodedBoard;
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);
};

class cc7312 : public cc_CodedBoard<cc7312, 13> {
public:
    static constexpr const wchar_t* kModel = L"7312";
    using cc_CodedBoard::cc_CodedBoard;
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);
};

// 105, asked only of a board that does not answer 67.
class cc7350l : public cc_CodedBoard<cc7350l, 26> {
public:
    static constexpr const wchar_t* kModel = L"7350l";
    using cc_CodedBoard::cc_CodedBoard;
};

// 67 with variant 0.
class cc7351 : public cc_735xBoard<cc7351, 14> {
public:
    static constexpr const wchar_t* kModel = L"7351";
    using cc_735xBoard::cc_735xBoard;
    // Makes a cc7351 or a cc7354 for 67, else a cc7350l for 105.
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);
};

// 67 with a variant other than 0.
class cc7354 : public cc_735xBoard<cc7354, 15> {
public:
    static constexpr const wchar_t* kModel = L"7354";
    using cc_735xBoard::cc_735xBoard;
};

// Holds the model interface's answers to 74, 87 and 90 until it closes.
class cc7360 : public cc_CodedBoard<cc7360, 1> {
public:
    static constexpr const wchar_t* kModel = L"7360";
    cc7360(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model);
    ~cc7360() override;
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);
    void close() override;

private:
    cc_ModPtr<ccIUnknown> held_[3];
};

// No parallel I/O; any number of boards is listed. It keeps the board
// interface itself, and its answer to 42 until it closes.
class cc7370 : public cc_TabledBoard<cc7370, ccUnknownFG> {
public:
    static constexpr uint32_t kTableSize = 0;
    static constexpr const wchar_t* kModel = L"7370";
    cc7370(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> board);
    ~cc7370() override;
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);
    void close() override;

private:
    cc_ModPtr<ccIUnknown> held_;
};

// A board whose three channels may hold cameras: a frame-grabber device of
// the device tree, without a parent, named as the board.
class cc7310d : public cc_TabledBoard<cc7310d, cc_IOBoard>, public ccQorLinkFrameGrabber {
public:
    static constexpr uint32_t kTableSize = 16;
    static constexpr const wchar_t* kModel = L"7310d";
    static constexpr uint32_t kChannels = 3;

    cc7310d(std::unique_ptr<cc_BoardEntry> entry, cc_ModPtr<ccIUnknown> model);
    ~cc7310d() override;
    static std::unique_ptr<ccUnknownFG> make(std::unique_ptr<cc_BoardEntry>& entry, ccIUnknown* board);
    // The cameras go with the I/O part, before the rest.
    void close() override;

    std::wstring name() const override { return ccBoard::name(); }
    ccFrameGrabber& frameGrabber() override { return *this; }
    // Camera i once the engine exists (made first when needed); null for a
    // channel without a camera and for i of 3 or more.
    ccQorLinkCamera* camera(uint32_t i);
    ccQorDevice* child(int32_t channel) override;

protected:
    // The single-channel configuration when the engine's core value is 1,
    // else the multi-channel one.
    int32_t ioCode(cc_UnknownFrameGrabber& engine) override;
    // Binds the lines, then fills the slots of channels with a camera
    // present; a slot already filled keeps its camera. A module error on
    // the way raises, with every module object it had reached let go.
    cc_FrameGrabber* createFrameGrabberImpl() override;

private:
    std::shared_ptr<ccQorLinkCamera> cameras_[kChannels];
};
