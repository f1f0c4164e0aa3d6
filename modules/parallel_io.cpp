#include "modules/parallel_io.h"

#include <algorithm>
#include <typeinfo>
#include <utility>

#include "modules/fgproxy.h"
#include "modules/unknownfg.h"

namespace {

// A configuration checks 8-bit numbers; no line above can ever be reached,
// so a module reporting more lines is not asked for them.
constexpr uint32_t kMaxLineNumber = 255;

} // namespace

ccParallelIO::~ccParallelIO() = default;

void ccParallelIO::setConfig(const ccIOConfig& config)
{
    std::lock_guard<std::mutex> hold(configsMutex_);
    for (const std::unique_ptr<ccIOConfig>& kept : configs_) {
        if (typeid(*kept) == typeid(config)) {
            config_.store(kept.get(), std::memory_order_release);
            return;
        }
    }
    configs_.emplace_back(config.clone());
    config_.store(configs_.back().get(), std::memory_order_release);
}

// ---- cc_IOLine ----

cc_IOLine::~cc_IOLine() = default;

void cc_IOLine::toggle()
{
    if (!isEnabled())
        throw ccParallelIO::NotEnabled();
    setValue(!value());
}

int32_t cc_IOLine::notifyArgument() { return 0; }
bool cc_IOLine::supportsEdgeKind(uint32_t) { return false; }
void cc_IOLine::stopEdgeKind(uint32_t) {}
void cc_IOLine::addWakeObject(ccIWakeObject*, uint32_t) {}
void cc_IOLine::removeWakeObject(ccIWakeObject*, uint32_t) {}

// ---- cc_UnknownIOLine ----

cc_UnknownIOLine::cc_UnknownIOLine(cc_ModPtr<ccIComponent_LineIO> line, const cc_UnknownFrameGrabber& errors)
    : line_(std::move(line)), errors_(&errors)
{
}

cc_UnknownIOLine::~cc_UnknownIOLine() = default;

void cc_UnknownIOLine::check(int32_t status) const { ccModCheck(*errors_, status); }

uint32_t cc_UnknownIOLine::edgeCode(uint32_t kind) { return kind <= 2 ? kind + 1 : 4; }

bool cc_UnknownIOLine::value()
{
    uint32_t word = 0;
    check(line_->value(&word));
    return word != 0;
}

void cc_UnknownIOLine::setValue(bool value) { check(line_->setValue(value ? 1 : 0)); }

uint32_t cc_UnknownIOLine::lineNumber()
{
    uint32_t word = 0;
    check(line_->lineNumber(&word));
    return word;
}

void cc_UnknownIOLine::enable(bool flag) { check(line_->enable(flag ? 1 : 0)); }

bool cc_UnknownIOLine::isEnabled()
{
    uint32_t word = 0;
    check(line_->isEnabled(&word));
    return word != 0;
}

bool cc_UnknownIOLine::canBeEnabled()
{
    uint32_t word = 0;
    check(line_->canBeEnabled(&word));
    return word != 0;
}

void cc_UnknownIOLine::pulse(bool level, double seconds, bool flag)
{
    check(line_->pulse(level ? 1 : 0, seconds, flag ? 1 : 0));
}

bool cc_UnknownIOLine::supportsEdgeKind(uint32_t kind)
{
    uint32_t word = 0;
    check(line_->supportsEdge(edgeCode(kind), &word));
    return word != 0;
}

void cc_UnknownIOLine::stopEdgeKind(uint32_t kind) { check(line_->stopEdge(edgeCode(kind))); }

void cc_UnknownIOLine::addWakeObject(ccIWakeObject* wake, uint32_t kind)
{
    check(line_->addWake(wake, edgeCode(kind)));
}

void cc_UnknownIOLine::removeWakeObject(ccIWakeObject* wake, uint32_t kind)
{
    check(line_->removeWake(wake, edgeCode(kind)));
}

// ---- cc_UnknownLineTable ----

cc_UnknownLineTable::cc_UnknownLineTable(cc_UnknownFrameGrabber& errors)
    : errors_(&errors), link_(std::make_shared<cc_IOLineLink>())
{
}

cc_UnknownLineTable::~cc_UnknownLineTable()
{
    // Waits for the handles using a line; later uses find the link dead.
    std::unique_lock<std::shared_mutex> hold(link_->mutex);
    link_->live = false;
    outputs_.clear();
    inputs_.clear();
}

cc_IOLine& cc_UnknownLineTable::lineOf(const std::vector<std::unique_ptr<cc_UnknownIOLine>>& lines,
                                       uint32_t number) const
{
    const uint32_t base = static_cast<uint32_t>(base_);
    if (number < base || number - base >= lines.size() || !lines[number - base])
        throw ccParallelIO::BadParams();
    return *lines[number - base];
}

cc_IOLine& cc_UnknownLineTable::outputLine(uint32_t number) const { return lineOf(outputs_, number); }
cc_IOLine& cc_UnknownLineTable::inputLine(uint32_t number) const { return lineOf(inputs_, number); }

// ---- the line handles ----

cc_IOLine& cc_LineHandle::line(bool enabling) const
{
    if (line_ != nullptr)
        return *line_;
    if (enabling)
        throw ccParallelIO::CannotEnable();
    throw ccParallelIO::NotEnabled();
}

template <class Use>
auto cc_LineHandle::with(Use use, bool enabling) const
{
    cc_IOLine& reached = line(enabling);
    if (!link_)
        return use(reached);
    std::shared_lock<std::shared_mutex> hold(link_->mutex);
    if (!link_->live)
        throw ccUnknownFG::MissingFunctionality();
    return use(reached);
}

bool cc_LineHandle::value() const { return with([](cc_IOLine& l) { return l.value(); }); }
uint32_t cc_LineHandle::lineNumber() const { return with([](cc_IOLine& l) { return l.lineNumber(); }); }
void cc_LineHandle::enable(bool flag) const { with([flag](cc_IOLine& l) { l.enable(flag); }, true); }
bool cc_LineHandle::isEnabled() const { return with([](cc_IOLine& l) { return l.isEnabled(); }); }
bool cc_LineHandle::canBeEnabled() const { return with([](cc_IOLine& l) { return l.canBeEnabled(); }, true); }
void ccOutputLine::setValue(bool value) const { with([value](cc_IOLine& l) { l.setValue(value); }); }
void ccOutputLine::pulse(bool level, double seconds, bool flag) const
{
    with([=](cc_IOLine& l) { l.pulse(level, seconds, flag); });
}

// ---- ccUnknownPIO ----

ccUnknownPIO::~ccUnknownPIO() = default;

cc_UnknownLineTable* ccUnknownPIO::buildLineTable(ccIUnknown* board, cc_UnknownFrameGrabber& grabber)
{
    cc_ModPtr<ccIComponent_ParallelIO> io = ccModQuery<ccIComponent_ParallelIO>(board, ccIidParallelIO);
    if (!io)
        return nullptr;
    auto table = std::make_unique<cc_UnknownLineTable>(grabber);
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    ccModCheck(grabber, io->counts(&inputs, &outputs));
    if (ccModQuery<ccIUnknown>(grabber.core(), ccIidLinesFrom8))
        table->base_ = 8;

    const uint32_t base = static_cast<uint32_t>(table->base_);
    const auto build = [&](std::vector<std::unique_ptr<cc_UnknownIOLine>>& lines, uint32_t direction,
                           uint32_t count) {
        const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{base} + count, kMaxLineNumber + 1));
        for (uint32_t n = base; n < end; ++n) {
            cc_ModPtr<ccIUnknown> object;
            ccModCheck(grabber, io->line(object.put(), direction, n));
            cc_ModPtr<ccIComponent_LineIO> line = ccModQuery<ccIComponent_LineIO>(object.get(), ccIidLineIO);
            lines.push_back(line ? std::make_unique<cc_UnknownIOLine>(std::move(line), grabber) : nullptr);
        }
    };
    build(table->outputs_, 0, outputs);
    build(table->inputs_, 1, inputs);
    return table.release();
}

void ccUnknownPIO::attachLineTable(cc_UnknownLineTable* table, int32_t code)
{
    lines_.reset(table);
    const ccIOConfig* config = ioConfigForCode(code);
    if (config == nullptr)
        return;
    std::lock_guard<std::mutex> hold(changing_);
    setConfig(*config);
    // The board's set-up goes on whatever the module makes of it.
    sendCode(code, false);
}

void ccUnknownPIO::closeParallelIO() { lines_.reset(); }

void ccUnknownPIO::sendCode(int32_t code, bool checked)
{
    if (!lines_)
        return;
    cc_UnknownFrameGrabber& grabber = lines_->errorSource();
    cc_ModPtr<ccIGrabber_IOSetting> setting = ccModQuery<ccIGrabber_IOSetting>(grabber.core(), ccIidIOSetting);
    if (!setting)
        return;
    const int32_t status = setting->setCode(code);
    if (checked)
        ccModCheck(grabber, status);
}

void ccUnknownPIO::checkLine(uint32_t n, bool input)
{
    ensureReady();
    const ccIOConfig* inForce = config();
    if (!lines_ || !inForce || n > kMaxLineNumber)
        throw BadParams();
    const uint8_t line = static_cast<uint8_t>(n);
    if (input)
        inForce->checkInputLine(line);
    else
        inForce->checkOutputLine(line);
}

ccInputLine ccUnknownPIO::inputLine(uint32_t line)
{
    checkLine(line, true);
    return ccInputLine(&lines_->inputLine(line), lines_->link());
}

ccOutputLine ccUnknownPIO::outputLine(uint32_t line)
{
    checkLine(line, false);
    return ccOutputLine(&lines_->outputLine(line), lines_->link());
}

uint32_t ccUnknownPIO::numInputLines() { return ioConfig().numInputLines(); }
uint32_t ccUnknownPIO::numOutputLines() { return ioConfig().numOutputLines(); }

const ccIOConfig& ccUnknownPIO::ioConfig()
{
    ensureReady();
    const ccIOConfig* inForce = config();
    if (!inForce)
        throw BadParams();
    return *inForce;
}

void ccUnknownPIO::setIOConfig(const ccIOConfig& config)
{
    ensureReady();
    const int32_t code = ioCodeForConfig(config);
    std::lock_guard<std::mutex> hold(changing_);
    setConfig(config);
    if (code != 0)
        sendCode(code, true);
}
