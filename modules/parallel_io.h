// Parallel I/O: the discrete input and output lines of a board.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "modules/ccicomponent.h"
#include "modules/ioconfig.h"
#include "modules/modptr.h"
#include "std/callback.h"
#include "std/ptrhandle.h"
#include "std/except/except.h"

class ccFrameGrabber;
class ccInputLine;
class ccOutputLine;
class cc_UnknownFrameGrabber;
class cc_UnknownLineTable;

// The parallel-I/O facet of a board: its lines, checked against the I/O
// configuration in force.
class ccParallelIO {
public:
    // None has a message of its own.
    cmDeclareErrorFamily(Errors, ccException, "class ccParallelIO::Errors");
    // A line number the board or its I/O configuration does not have.
    cmDeclareException(BadParams, Errors, 0x10003a00u, "class ccParallelIO::BadParams");
    // enable or canBeEnabled on a line handle without a line behind it.
    cmDeclareException(CannotEnable, Errors, 0x10003a01u, "class ccParallelIO::CannotEnable");
    // Any other use of such a handle; toggling a disabled line.
    cmDeclareException(NotEnabled, Errors, 0x10003a03u, "class ccParallelIO::NotEnabled");
    cmDeclareException(NotImplemented, Errors, 0x10003a04u, "class ccParallelIO::NotImplemented");
    // An I/O configuration that answers no line question.
    cmDeclareException(Unspecified, Errors, 0x10003a05u, "class ccParallelIO::Unspecified");

    ccParallelIO() = default;
    ccParallelIO(const ccParallelIO&) = delete;
    ccParallelIO& operator=(const ccParallelIO&) = delete;

    virtual ccInputLine inputLine(uint32_t line) = 0;
    virtual ccOutputLine outputLine(uint32_t line) = 0;
    virtual uint32_t numInputLines() = 0;
    virtual uint32_t numOutputLines() = 0;
    // Valid while the facet lives, whatever configurations are set later.
    virtual const ccIOConfig& ioConfig() = 0;
    // Keeps a copy of config.
    virtual void setIOConfig(const ccIOConfig& config) = 0;
    virtual ~ccParallelIO();

protected:
    // The configuration in force; null until one is set. Any thread may read
    // it while another sets one.
    const ccIOConfig* config() const { return config_.load(std::memory_order_acquire); }
    // Puts a copy of config in force. Configurations are stateless, so one
    // copy per class is kept for the facet's life: a reader never sees the
    // one it holds deleted under it.
    void setConfig(const ccIOConfig& config);

private:
    std::mutex configsMutex_;
    std::vector<std::unique_ptr<ccIOConfig>> configs_;
    std::atomic<const ccIOConfig*> config_{nullptr};
};

// One line, as the handles see it.
class cc_IOLine {
public:
    cc_IOLine() = default;
    cc_IOLine(const cc_IOLine&) = delete;
    cc_IOLine& operator=(const cc_IOLine&) = delete;

    virtual bool value() = 0;
    virtual void setValue(bool value) = 0;
    virtual uint32_t lineNumber() = 0;
    virtual void enable(bool flag) = 0;
    virtual bool isEnabled() = 0;
    virtual bool canBeEnabled() = 0;
    // ccParallelIO::NotEnabled when the line is not enabled.
    virtual void toggle();
    virtual void pulse(bool level, double seconds, bool flag) = 0;
    virtual int32_t notifyArgument();
    // Edge kinds: 0 high to low, 1 low to high, 2 the third kind, 3 none.
    virtual bool supportsEdgeKind(uint32_t kind);
    virtual void stopEdgeKind(uint32_t kind);
    virtual void addWakeObject(ccIWakeObject* wake, uint32_t kind);
    virtual void removeWakeObject(ccIWakeObject* wake, uint32_t kind);
    virtual ~cc_IOLine();

    // The line's lock. Every input-line object of the line holds it while it
    // changes what is the line's and not the object's: the enabled state a
    // registration sets and may restore, the edge kinds watched and the
    // wake objects added, so that no object acts on a state another one is
    // half-way through changing.
    virtual std::unique_lock<std::mutex> lockLine();
    // Under the line's lock: the input-line objects of this line that watch
    // each edge kind. The module's stop of a kind is for the whole line, so
    // only the last watcher of a kind may send it: unwatch answers whether
    // it was.
    void watchEdgeKind(uint32_t kind);
    bool unwatchEdgeKind(uint32_t kind);

private:
    std::mutex lineMutex_;
    uint32_t watchers_[3] = {};
};

// A line of the driver module (69); every module error comes back as the
// exception the module archived.
class cc_UnknownIOLine : public cc_IOLine {
public:
    // errors must outlive the line.
    cc_UnknownIOLine(cc_ModPtr<ccIComponent_LineIO> line, const cc_UnknownFrameGrabber& errors);
    ~cc_UnknownIOLine() override;

    bool value() override;
    void setValue(bool value) override;
    uint32_t lineNumber() override;
    void enable(bool flag) override;
    bool isEnabled() override;
    bool canBeEnabled() override;
    void pulse(bool level, double seconds, bool flag) override;
    bool supportsEdgeKind(uint32_t kind) override;
    void stopEdgeKind(uint32_t kind) override;
    void addWakeObject(ccIWakeObject* wake, uint32_t kind) override;
    void removeWakeObject(ccIWakeObject* wake, uint32_t kind) override;

    // The module's code of an edge kind: 0 -> 1, 1 -> 2, 2 -> 3, else 4.
    static uint32_t edgeCode(uint32_t kind);

private:
    void check(int32_t status) const;

    cc_ModPtr<ccIComponent_LineIO> line_;
    const cc_UnknownFrameGrabber* errors_;
};

// What the handles of a table's lines share with it, so that a handle may
// outlive the table (a closed board, the library's shut-down): the lines are
// used under the shared lock, and the table marks the link dead under the
// exclusive one before its lines go.
struct cc_IOLineLink {
    std::shared_mutex mutex;
    bool live = true;
};

// The lines a board's module offers, built by ccUnknownPIO::buildLineTable.
class cc_UnknownLineTable {
public:
    // errors must outlive the table.
    explicit cc_UnknownLineTable(cc_UnknownFrameGrabber& errors);
    ~cc_UnknownLineTable();
    cc_UnknownLineTable(const cc_UnknownLineTable&) = delete;
    cc_UnknownLineTable& operator=(const cc_UnknownLineTable&) = delete;

    // The line of that number; ccParallelIO::BadParams for a number the
    // module did not report or gave no line for.
    cc_IOLine& outputLine(uint32_t number) const;
    cc_IOLine& inputLine(uint32_t number) const;
    cc_UnknownFrameGrabber& errorSource() const { return *errors_; }
    const std::shared_ptr<cc_IOLineLink>& link() const { return link_; }

private:
    friend class ccUnknownPIO;
    cc_IOLine& lineOf(const std::vector<std::unique_ptr<cc_UnknownIOLine>>& lines, uint32_t number) const;

    // A null place for a number whose object does not answer 69, so that
    // every other number still reaches its own line.
    std::vector<std::unique_ptr<cc_UnknownIOLine>> outputs_;
    std::vector<std::unique_ptr<cc_UnknownIOLine>> inputs_;
    int32_t base_ = 0;
    cc_UnknownFrameGrabber* errors_;
    std::shared_ptr<cc_IOLineLink> link_;
};

// What both line handles forward to a line of the table (not owned); without
// a line they throw ccParallelIO::NotEnabled, or CannotEnable from enable and
// canBeEnabled. Once the table of the line is gone they throw
// ccUnknownFG::MissingFunctionality.
class cc_LineHandle {
public:
    bool value() const;
    uint32_t lineNumber() const;
    void enable(bool flag) const;
    bool isEnabled() const;
    bool canBeEnabled() const;

protected:
    bool hasLine() const { return line_ != nullptr; }
    // link: the table's, null for a line outside a table.
    cc_LineHandle(cc_IOLine* line, std::shared_ptr<cc_IOLineLink> link) : line_(line), link_(std::move(link)) {}
    // What use returns, called with the line while the line cannot go.
    template <class Use>
    auto with(Use use, bool enabling = false) const;

private:
    cc_IOLine& line(bool enabling) const;

    cc_IOLine* line_;
    std::shared_ptr<cc_IOLineLink> link_;
};

class ccOutputLine : public cc_LineHandle {
public:
    explicit ccOutputLine(cc_IOLine* line = nullptr, std::shared_ptr<cc_IOLineLink> link = nullptr)
        : cc_LineHandle(line, std::move(link))
    {
    }

    void setValue(bool value) const;
    void pulse(bool level, double seconds, bool flag) const;
};

class cc_InputLineState;

// One accepted callback registration of an input line: what its dispatcher
// calls, until the registration is withdrawn.
class cc_InputRegistration : public ccCallback1<const void*> {
public:
    cc_InputRegistration(cc_InputLineState& line, ccPtrHandle<ccCallback1<const void*>> callback,
                         const void* argument)
        : argument(argument), line_(line), callback_(std::move(callback))
    {
    }
    // The client's callback, unless the registration or its line was
    // withdrawn meanwhile.
    void operator()(const void* argument) override;

    // Callback handles that count on it; withdrawn once none is left.
    std::atomic<uint32_t> handles{0};
    std::atomic<bool> withdrawn{false};
    const void* const argument;

private:
    cc_InputLineState& line_; // outlives every call: it stops the dispatcher first
    ccPtrHandle<ccCallback1<const void*>> callback_;
};

class ccInputLine : public cc_LineHandle {
public:
    // What keeps a callback registered: the registration goes when the last
    // copy of its handle goes. An empty handle (a refused registration) and
    // every handle once its ccInputLine is gone release nothing.
    class CallbackHandle {
    public:
        CallbackHandle() = default;
        CallbackHandle(const CallbackHandle& other);
        CallbackHandle& operator=(const CallbackHandle& other);
        ~CallbackHandle();
        bool empty() const { return !registration_; }

    private:
        friend class cc_InputLineState;
        CallbackHandle(std::shared_ptr<cc_InputLineState> line, const ccPtrHandle<cc_InputRegistration>& registration);
        void release() noexcept;

        std::shared_ptr<cc_InputLineState> line_;
        ccPtrHandle<cc_InputRegistration> registration_;
    };

    explicit ccInputLine(cc_IOLine* line = nullptr, std::shared_ptr<cc_IOLineLink> link = nullptr);
    // A copy reaches the same line and starts without registrations: they
    // stay with the object that made them, also when it is assigned another
    // line.
    ccInputLine(const ccInputLine& other);
    ccInputLine& operator=(const ccInputLine& other);
    // Withdraws the registrations made through this object; once it returns
    // none of their callbacks is called again.
    ~ccInputLine();

    // Calls callback with argument, on a thread of its own (priority level
    // key), after each transition of the edge kind (0 high to low, 1 low to
    // high, 2 the third kind) while the line is enabled; enables the line.
    // All registrations of one object share one kind; another kind, a kind
    // the line does not support and a line without an implementation give an
    // empty handle. ccParallelIO::BadParams for a null callback.
    CallbackHandle registerCallback(ccPtrHandle<ccCallback1<const void*>> callback, const void* argument,
                                    int32_t key, uint32_t kind);

private:
    std::shared_ptr<cc_InputLineState> state_;
    // The states of lines this object reached before an assignment, while
    // they hold registrations.
    std::vector<std::shared_ptr<cc_InputLineState>> earlier_;
};

// The parallel I/O of a board of a driver module.
class ccUnknownPIO : public ccParallelIO {
public:
    // Each makes the board ready first. Without a line table or a
    // configuration the lines and counts throw ccParallelIO::BadParams.
    ccInputLine inputLine(uint32_t line) override;
    ccOutputLine outputLine(uint32_t line) override;
    uint32_t numInputLines() override;
    uint32_t numOutputLines() override;
    const ccIOConfig& ioConfig() override;
    // Tells the module the code of config's class, when it has one, then
    // keeps a copy; a refusal comes back as the module's error and leaves the
    // configuration in force as it was.
    void setIOConfig(const ccIOConfig& config) override;
    // Deletes a line table still attached.
    ~ccUnknownPIO() override;

    // The board makes its frame-grabber implementation exist.
    virtual void ensureReady() = 0;
    // The board's ccFrameGrabber part.
    virtual ccFrameGrabber& ioFrameGrabber() = 0;

    // The lines of board (54), numbered from 8 when grabber's core answers
    // 105 and never above 255; null when board does not answer 54.
    static cc_UnknownLineTable* buildLineTable(ccIUnknown* board, cc_UnknownFrameGrabber& grabber);
    // Takes over table (null: none); keeps the configuration of code and,
    // when there is one, tells the module (80).
    void attachLineTable(cc_UnknownLineTable* table, int32_t code);
    // Deletes the line table (the board's close).
    void closeParallelIO();

private:
    // Raises unless n is a line number the configuration permits; numbers
    // above 255 before the configuration's 8-bit check sees them.
    void checkLine(uint32_t n, bool input);
    void sendCode(int32_t code, bool checked);

    std::unique_ptr<cc_UnknownLineTable> lines_;
    // One change at a time, so that the module is told the configuration
    // last put in force.
    std::mutex changing_;
};
