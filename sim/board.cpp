// A board of the list and what it offers: its model, the grabber core that
// makes FIFOs, board information, EERAM, the discrete lines and, on a 7310d,
// channels with cameras.
#include "sim/simstate.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace sim {
namespace {

// An interface with nothing but the three first slots.
class Plain : public ccIUnknown {
protected:
    ~Plain() = default;
};

// What 113 and 105 give: an object that answers its id and nothing more.
class PlainObject final : public Impl<Plain> {
public:
    explicit PlainObject(int32_t id) : Impl(id), id_(id) {}

private:
    ccIUnknown* offer(int32_t id) override { return id == id_ ? self<Plain>() : nullptr; }

    const int32_t id_;
};

class Core final
    : public Impl<ccIGrabber_Core, ccIGrabber_Tvm, ccIGrabber_IOSetting, ccIAcqFifo_Creator> {
public:
    explicit Core(std::u16string serial) : Impl(ccIidGrabberCore), serial_(std::move(serial)) {}

    int32_t coreValue(int32_t* value) override { return answers(ccIidGrabberCore, 3, {}, value); }
    int32_t isFormatSupported(const char16_t* format, uint32_t* supported) override {
        if (enterText(ccIidGrabberCore, 4, format)) return failed(supported);
        return give(ccIidGrabberCore, 4, {}, supported);
    }
    int32_t createFifo(ccIUnknown** fifo, const char16_t* format) override {
        if (enterText(ccIidGrabberCore, 5, format)) return failed(fifo);
        return create(fifo, 0);
    }
    int32_t numCameraPorts(const char16_t* format, uint32_t* count) override {
        if (enterText(ccIidGrabberCore, 6, format)) return failed(count);
        return give(ccIidGrabberCore, 6, {}, count);
    }
    int32_t hasFormatOptions(uint32_t* flag) override { return answers(ccIidGrabberCore, 7, {}, flag); }
    int32_t serialNumber(uint32_t* length, char16_t* buffer) override {
        if (enter(ccIidGrabberCore, 8, {double(buffer != nullptr)})) return failed(length);
        return length ? writeText(serial_, length, buffer) : refuse();
    }

    int32_t tvmId(int32_t* id) override { return answers(ccIidGrabberTvm, 3, {}, id); }

    int32_t setCode(int32_t code) override {
        if (enter(ccIidIOSetting, 3, {double(code)})) return 1;
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ioCode = code;
        return 0;
    }

    int32_t create(ccIUnknown** fifo, const char16_t* format, int32_t code) override {
        if (enterText(ccIidFifoCreator, 3, format, {double(code)})) return failed(fifo);
        return create(fifo, code);
    }
    int32_t isSupported(const char16_t* format, int32_t code, uint32_t* supported) override {
        if (enterText(ccIidFifoCreator, 4, format, {double(code)})) return failed(supported);
        return give(ccIidFifoCreator, 4, {}, supported);
    }

private:
    static int32_t create(ccIUnknown** fifo, int32_t code) {
        if (!fifo) return refuse();
        *fifo = newFifo(code);
        return *fifo ? 0 : refuse();
    }
    ccIUnknown* offer(int32_t id) override {
        if (id == ccIidGrabberFeatures) return newGrabberFeatures();
        if (id == ccIidLinesFrom8) return hand<Plain, PlainObject>(id);
        return selfAs(id, {ccIidGrabberCore, ccIidGrabberTvm, ccIidIOSetting, ccIidFifoCreator});
    }

    const std::u16string serial_;
};

class Info final : public Impl<ccIGrabber_Info> {
public:
    Info() : Impl(ccIidGrabberInfo) {}

    int32_t disconnect(uint32_t flag) override { return enter(ccIidGrabberInfo, 3, {double(flag)}) ? 1 : 0; }
    int32_t uniqueId(uint32_t capacity, char16_t* buffer) override {
        if (enter(ccIidGrabberInfo, 4, {double(capacity)})) return 1;
        if (!capacity) return 0;
        return buffer ? writeText(textOf(ccIidGrabberInfo, 4), &capacity, buffer) : refuse();
    }

private:
    ccIUnknown* offer(int32_t id) override { return id == ccIidGrabberInfo ? self<ccIGrabber_Info>() : nullptr; }
};

// Over the shared contents, or the board's own when its model has them.
class Eeram final : public Impl<ccIComponent_EERAM> {
public:
    explicit Eeram(uint32_t board) : Impl(ccIidEERAM), board_(board) {}

    int32_t size(uint32_t* bytes) override {
        if (enter(ccIidEERAM, 3)) return failed(bytes);
        if (!bytes) return refuse();
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        *bytes = static_cast<uint32_t>(contents(s).size());
        return 0;
    }
    int32_t read(uint32_t offset, uint8_t* buffer, uint32_t count) override {
        if (enter(ccIidEERAM, 4, {double(offset), double(buffer != nullptr), double(count)})) return 1;
        return access(offset, count, buffer, [](uint8_t* at, uint8_t* other, uint32_t n) {
            std::memcpy(other, at, n);
        });
    }
    int32_t write(uint32_t offset, const uint8_t* buffer, uint32_t count) override {
        if (enter(ccIidEERAM, 5, {double(offset), double(buffer != nullptr), double(count)})) return 1;
        return access(offset, count, const_cast<uint8_t*>(buffer), [](uint8_t* at, uint8_t* other, uint32_t n) {
            std::memcpy(at, other, n);
        });
    }

private:
    std::vector<uint8_t>& contents(State& s) const {
        auto it = s.models.find(board_);
        return it != s.models.end() && it->second.ownEERAM ? it->second.eeram : s.eeram;
    }
    template <class Copy>
    int32_t access(uint32_t offset, uint32_t count, uint8_t* buffer, Copy copy) {
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            std::vector<uint8_t>& bytes = contents(s);
            if (uint64_t{offset} + count <= bytes.size() && (buffer || !count)) {
                if (count) copy(bytes.data() + offset, buffer, count);
                return 0;
            }
        }
        return refuse();
    }
    ccIUnknown* offer(int32_t id) override { return id == ccIidEERAM ? self<ccIComponent_EERAM>() : nullptr; }

    const uint32_t board_;
};

class EeramAux final : public Impl<ccIComponent_EERAMAux> {
public:
    EeramAux() : Impl(ccIidEERAMAux) {}

    int32_t size(uint32_t* bytes) override { return answers(ccIidEERAMAux, 3, {}, bytes); }
    int32_t write(uint32_t a, uint32_t b) override { return enter(ccIidEERAMAux, 4, {double(a), double(b)}) ? 1 : 0; }

private:
    ccIUnknown* offer(int32_t id) override { return id == ccIidEERAMAux ? self<ccIComponent_EERAMAux>() : nullptr; }
};

// The outputs each I/O configuration code drives (bit n: line n); the
// board drives every output before it is told a code, or after an unknown one.
uint32_t drivenOutputs(int32_t code) {
    static const std::map<int32_t, uint32_t> outputs = {
        {1, 0xFF},    {2, 0xFF},    {3, 0xFC},     {4, 0xFFFFF},  {5, 0},       {6, 0xFF000}, {7, 0xFFFFF},
        {8, 0x1},     {9, 0xFF},    {10, 0xFC},    {11, 0xFFF},   {12, 0x3FC},  {13, 0xF},    {14, 0xFFFF},
        {15, 0xFFFF}, {16, 0xAAF0}, {17, 0xAAF0},  {18, 0xFFF0},  {19, 0xFFF0}, {26, 0xFF00}, {27, 0xAA00},
        {28, 0xFF00}};
    const auto it = outputs.find(code);
    return it == outputs.end() ? ~0u : it->second;
}

// A line object of the board's line (direction 0 output, 1 input). Wake
// objects it added go back at their removal or when it ends.
class Line final : public Impl<ccIComponent_LineIO> {
public:
    Line(uint32_t direction, uint32_t number) : Impl(ccIidLineIO), key_(direction, number) {}

    int32_t lineNumber(uint32_t* number) override {
        return reports(ccIidLineIO, 3, {}, {double(key_.second)}, number);
    }
    int32_t enable(uint32_t flag) override { return store(4, flag, &LineState::enabled); }
    int32_t isEnabled(uint32_t* flag) override {
        return reports(ccIidLineIO, 5, {}, {get(&LineState::enabled)}, flag);
    }
    int32_t canBeEnabled(uint32_t* flag) override { return answers(ccIidLineIO, 6, {}, flag); }
    int32_t value(uint32_t* value) override { return reports(ccIidLineIO, 7, {}, {get(&LineState::value)}, value); }
    int32_t setValue(uint32_t value) override { return store(8, value, &LineState::value, true); }
    int32_t pulse(uint32_t level, double seconds, uint32_t flag) override {
        if (enter(ccIidLineIO, 9, {double(level), seconds, double(flag)})) return 1;
        return driven() ? 0 : refuse();
    }
    int32_t supportsEdge(uint32_t code, uint32_t* flag) override {
        return answers(ccIidLineIO, 10, {double(code)}, flag);
    }
    int32_t stopEdge(uint32_t code) override { return enter(ccIidLineIO, 11, {double(code)}) ? 1 : 0; }
    int32_t addWake(ccIWakeObject* wake, uint32_t code) override {
        if (enter(ccIidLineIO, 12, {double(wake != nullptr), double(code)})) return 1;
        if (!wake) return refuse();
        wake->addRef();
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lines[key_].wakes.push_back({wake, code, this});
        return 0;
    }
    int32_t removeWake(ccIWakeObject* wake, uint32_t code) override {
        if (enter(ccIidLineIO, 13, {double(wake != nullptr), double(code)})) return 1;
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            auto& wakes = s.lines[key_].wakes;
            auto it = std::find_if(wakes.begin(), wakes.end(),
                                   [&](const LineState::Wake& w) { return w.wake == wake && w.code == code; });
            if (it == wakes.end()) wake = nullptr;
            else wakes.erase(it);
        }
        if (!wake) return refuse();
        wake->release();
        return 0;
    }

private:
    int32_t store(int32_t slot, uint32_t value, uint32_t LineState::*field, bool drives = false) {
        if (enter(ccIidLineIO, slot, {double(value)})) return 1;
        if (drives && !driven()) return refuse();
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.lines[key_].*field = value;
        return 0;
    }
    double get(uint32_t LineState::*field) const {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        return s.lines[key_].*field;
    }
    // An input, or an output of the configuration in force.
    bool driven() const {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const uint32_t outputs = drivenOutputs(s.ioCode);
        return key_.first != 0 || (key_.second < 32 ? (outputs >> key_.second & 1) != 0 : outputs == ~0u);
    }
    ccIUnknown* offer(int32_t id) override { return id == ccIidLineIO ? self<ccIComponent_LineIO>() : nullptr; }
    void ended() override {
        std::vector<ccIWakeObject*> mine;
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            auto& wakes = s.lines[key_].wakes;
            for (auto it = wakes.begin(); it != wakes.end();) {
                if (it->owner != this) { ++it; continue; }
                mine.push_back(it->wake);
                it = wakes.erase(it);
            }
        }
        for (ccIWakeObject* w : mine) w->release();
    }

    const std::pair<uint32_t, uint32_t> key_;
};

class ParallelIO final : public Impl<ccIComponent_ParallelIO> {
public:
    ParallelIO() : Impl(ccIidParallelIO) {}

    int32_t counts(uint32_t* inputs, uint32_t* outputs) override {
        Values computed{};
        {
            State& s = state();
            std::lock_guard<std::mutex> lock(s.mutex);
            computed = {double(s.inputs), double(s.outputs)};
        }
        return reports(ccIidParallelIO, 3, {}, computed, inputs, outputs);
    }
    int32_t line(ccIUnknown** line, uint32_t direction, uint32_t number) override {
        if (enter(ccIidParallelIO, 4, {double(direction), double(number)})) return failed(line);
        if (!line) return refuse();
        *line = hand<ccIComponent_LineIO, Line>(direction != 0 ? 1u : 0u, number);
        return 0;
    }

private:
    ccIUnknown* offer(int32_t id) override {
        return id == ccIidParallelIO ? self<ccIComponent_ParallelIO>() : nullptr;
    }
};

// A camera on a channel of a 72 board.
class Camera final : public Impl<ccIQorLink_Camera> {
public:
    Camera(uint32_t channel, bool present) : Impl(ccIidLinkCamera), channel_(channel), present_(present) {}

    int32_t present(uint32_t* flag) override {
        return reports(ccIidLinkCamera, 3, {}, {double(present_)}, flag);
    }
    int32_t reserved4() override { return enter(ccIidLinkCamera, 4) ? 1 : 0; }
    int32_t name(uint32_t* length, char16_t* buffer) override {
        if (enter(ccIidLinkCamera, 5)) return 1;
        if (!length) return refuse();
        std::u16string text = textOf(ccIidLinkCamera, 5);
        if (text.empty()) text = u"camera " + std::u16string(1, static_cast<char16_t>(u'0' + channel_));
        return writeText(text, length, buffer);
    }
    int32_t supportsFormat(const char16_t* format, uint32_t* flag) override {
        if (enterText(ccIidLinkCamera, 6, format)) return failed(flag);
        return give(ccIidLinkCamera, 6, {}, flag);
    }

private:
    ccIUnknown* offer(int32_t id) override { return id == ccIidLinkCamera ? self<ccIQorLink_Camera>() : nullptr; }

    const uint32_t channel_;
    const bool present_;
};

class Channel final : public Impl<Plain> {
public:
    Channel(uint32_t index, bool present) : Impl(ccIid7310d), index_(index), present_(present) {}

private:
    ccIUnknown* offer(int32_t id) override {
        return id == ccIidLinkCamera ? hand<ccIQorLink_Camera, Camera>(index_, present_) : nullptr;
    }

    const uint32_t index_;
    const bool present_;
};

// The board answers each id of its model with itself and, through it, the rest.
class Board final : public Impl<Plain, ccIBoard_Variant, ccIBoard_Channels> {
public:
    Board(uint32_t index, BoardModel model) : Impl(ccIid7320), index_(index), model_(std::move(model)) {}

    // The model ids whatever is offered: they say what the board is.
    int32_t query(ccIUnknown** out, int32_t id) override {
        if (std::find(model_.ids.begin(), model_.ids.end(), id) == model_.ids.end()) return Impl::query(out, id);
        if (enter(ccIid7320, 0, {double(id)}) || !out) return failed(out);
        if (id == ccIid7310 || id == ccIid735x) *out = self<ccIBoard_Variant>();
        else if (id == ccIid7310d) *out = self<ccIBoard_Channels>();
        else *out = self<Plain>();
        return 0;
    }
    int32_t variant(uint32_t* value) override {
        const int32_t id = std::find(model_.ids.begin(), model_.ids.end(), ccIid735x) != model_.ids.end()
                               ? ccIid735x : ccIid7310;
        return reports(id, 3, {}, {double(model_.variant)}, value);
    }
    int32_t channel(uint32_t index, ccIUnknown** channel) override {
        if (enter(ccIid7310d, 3, {double(index)})) return failed(channel);
        if (!channel) return refuse();
        *channel = index < 3 ? hand<Plain, Channel>(index, (model_.cameras >> index & 1) != 0) : nullptr;
        return 0;
    }

private:
    ccIUnknown* offer(int32_t id) override {
        switch (id) {
        case ccIidGrabberCore: return newCore(u"");
        case ccIidGrabberInfo: return hand<ccIGrabber_Info, Info>();
        case ccIidEERAM: return hand<ccIComponent_EERAM, Eeram>(index_);
        case ccIidEERAMAux: return hand<ccIComponent_EERAMAux, EeramAux>();
        case ccIidParallelIO: return hand<ccIComponent_ParallelIO, ParallelIO>();
        case ccIid735xExtra:
        case ccIid7360A:
        case ccIid7360B:
        case ccIid7360C: return hand<Plain, PlainObject>(id);
        default: return nullptr;
        }
    }

    const uint32_t index_;
    const BoardModel model_;
};

} // namespace

ccIUnknown* newBoard(uint32_t index) {
    BoardModel model;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.models.find(index);
        if (it != s.models.end()) model = it->second;
    }
    return hand<Plain, Board>(index, std::move(model));
}
ccIUnknown* newCore(std::u16string serial) { return hand<ccIGrabber_Core, Core>(std::move(serial)); }

} // namespace sim
