// The library's face of one frame grabber: the handle through which FIFOs,
// video formats and the board object reach the board's acquisition engine,
// created on first use; and the registry limits on the formats a board
// accepts.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

class cc_FrameGrabber;
class ccVideoFormat;

// What the format limits need of a board: the board classes derive from it
// beside ccFrameGrabber, and the limits reach it by a cross-cast.
class cc_BoardIdentity {
public:
    virtual ~cc_BoardIdentity();
    virtual int32_t registrationIndex() const = 0;
    virtual std::wstring boardName() const = 0;
};

class ccFrameGrabber {
public:
    // A null engine is created on first use.
    explicit ccFrameGrabber(cc_FrameGrabber* engine = nullptr);
    ccFrameGrabber(const ccFrameGrabber&) = delete;
    ccFrameGrabber& operator=(const ccFrameGrabber&) = delete;

    virtual bool isSpecialHandle() const { return false; }
    // Deletes the engine only when it owns it.
    virtual ~ccFrameGrabber();

    // The engine, created first when there is none yet: once, under the
    // library mutex, whichever threads ask. A null creation is tried again
    // at the next call.
    cc_FrameGrabber* frameGrabberImpl() const;

    // Forwarded to the engine; without one they answer 0, false, -2, nothing
    // and the empty string.
    int32_t implQuery() const;
    bool hasFormatOptions() const;
    int32_t tvmId() const;
    // Never creates the engine.
    void disconnect(bool flag) const;
    std::wstring uniqueId() const;

    // The registry's permission for the format on this board.
    bool isFormatAllowed(const ccVideoFormat& format) const;
    // Allowed, and the engine supports it with the public pel-format code
    // (-1: any); false without an engine and for a code outside 1..19.
    bool isVideoFormatSupported(const ccVideoFormat& format, int32_t pelFormat) const;
    // Supported as grey 8, or else as Bayer 8.
    bool supportsGreyFormat(const ccVideoFormat& format) const;
    // The engine's camera ports for an allowed format; 0 otherwise.
    uint32_t numCameraPorts(const ccVideoFormat& format) const;

protected:
    virtual cc_FrameGrabber* createFrameGrabberImpl() = 0;

    void setOwnsImplementation(bool owns) { ownsImpl_ = owns; }
    // For an owner about to free the engine (a board that closes): the
    // handle lets go of it, deleting it when it owns it, and the next use
    // asks createFrameGrabberImpl again.
    void forgetImplementation() noexcept;
    // Cleared by every forwarding operation of a handle that does not own its
    // engine; what sets it is the board's business.
    std::atomic<bool>& secondFlag() const { return secondFlag_; }

private:
    // The first step of every forwarding operation.
    void touched() const;
    // The first key, "board<index>".
    static bool boardKeyAllows(const cc_BoardIdentity& board, const ccVideoFormat& format);

    mutable std::atomic<cc_FrameGrabber*> impl_;
    bool ownsImpl_ = false;
    mutable std::atomic<bool> secondFlag_{false};
};

// The second key of one board, "board_<name>_<index>", for one check. Values
// that are absent, of another type or in a key that cannot be opened count as
// absent; an absent number as 0. Nothing is cached.
class cc_BoardFormatLimits {
public:
    explicit cc_BoardFormatLimits(const cc_BoardIdentity& board);

    bool limitFmt() const;
    bool excludeFmt() const;
    // "format0" to "format99" in turn: true at the first equal to name, false
    // at the first that cannot be read and after the last.
    bool listsFormat(const std::wstring& name) const;
    // With limitFmt only listed names, else with excludeFmt only names not
    // listed; with neither every name.
    bool allows(const std::wstring& name) const;

    const std::wstring& keyPath() const { return keyPath_; }

private:
    const cc_BoardIdentity* board_;
    int32_t index_;
    std::wstring keyPath_;
};
