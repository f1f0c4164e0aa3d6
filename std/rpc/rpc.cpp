#include "std/rpc/rpc.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <list>
#include <mutex>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/except/resource.h"
#include "std/except/utf16.h"
#include "std/threadid.h"
#include "std/timeout.h"

namespace {

// A count from the wire reserves at most this many elements ahead; the rest
// grows with what actually arrives.
constexpr uint32_t kReserveLimit = 1024;

template <class T, class Load>
void loadCounted(std::vector<T>& out, uint32_t count, Load load)
{
    out.clear();
    out.reserve(std::min(count, kReserveLimit));
    for (uint32_t i = 0; i < count; ++i) {
        out.emplace_back();
        load(out.back());
    }
}

} // namespace

// ---- descriptors ----

ccRPCFunction::ccRPCFunction(const std::string& name, uint8_t flags, const std::string& returnType,
                             std::vector<std::string> argumentTypes,
                             const std::vector<std::pair<std::string, std::string>>& templateParameters)
    : flags_(flags), name_(name), returnType_(returnType), argumentTypes_(std::move(argumentTypes))
{
    for (const auto& p : templateParameters) {
        templateParameterNames_.push_back(p.first);
        templateArgumentTypes_.push_back(ccCanonicalTypeName(p.second));
    }
    computeKey();
}

void ccRPCFunction::computeKey()
{
    uint32_t sum = 0;
    for (unsigned char c : name_)
        sum += c;
    key_ = (sum & 0x3FFFu) << 18 | (uint32_t(templateArgumentTypes_.size()) & 3u) << 16 |
           (uint32_t(argumentTypes_.size()) & 7u) << 13 | (uint32_t(returnType_.size()) & 7u) << 10 |
           (uint32_t(name_.size()) & 63u) << 4 | (flags_ & 15u);
}

bool operator<(const ccRPCFunction& a, const ccRPCFunction& b)
{
    if (a.key_ != b.key_)
        return a.key_ < b.key_;
    if (a.name_ != b.name_)
        return a.name_ < b.name_;
    if (a.argumentTypes_.size() != b.argumentTypes_.size())
        return a.argumentTypes_.size() < b.argumentTypes_.size();
    if (a.templateArgumentTypes_.size() != b.templateArgumentTypes_.size())
        return a.templateArgumentTypes_.size() < b.templateArgumentTypes_.size();
    if (a.argumentTypes_ != b.argumentTypes_)
        return a.argumentTypes_ < b.argumentTypes_;
    return a.templateArgumentTypes_ < b.templateArgumentTypes_;
}

std::string ccRPCFunction::signature() const
{
    std::string s;
    if (!templateParameterNames_.empty()) {
        s += "template<";
        for (size_t i = 0; i < templateParameterNames_.size(); ++i) {
            if (i)
                s += ",";
            s += templateParameterNames_[i] + "=" +
                 (i < templateArgumentTypes_.size() ? templateArgumentTypes_[i] : std::string());
        }
        s += "> ";
    }
    s += returnType_ + " " + name_ + "(";
    for (size_t i = 0; i < argumentTypes_.size(); ++i)
        s += (i ? ", " : "") + argumentTypes_[i];
    s += ")";
    if (flags_ & 1) {
        if (flags_ & 2)
            s += " const";
        if (flags_ & 4)
            s += " volatile";
    }
    return s;
}

void ccRPCArchiveStrings(ccArchive& ar, std::vector<std::string>& strings)
{
    ccArchiveVersion(ar, 0, "", 0);
    uint32_t count = uint32_t(strings.size());
    ar.archive(count);
    if (ar.isStoring()) {
        for (auto& s : strings)
            ar.archive(s);
        return;
    }
    loadCounted(strings, count, [&](std::string& s) { ar.archive(s); });
}

void ccRPCFunction::archive(ccArchive& ar)
{
    ccArchiveVersion(ar, 0, "std/rpc/rpc", 1156);
    ar.archive(name_);
    ar.archive(flags_);
    ar.archive(returnType_);
    ccRPCArchiveStrings(ar, argumentTypes_);
    ccRPCArchiveStrings(ar, templateArgumentTypes_);
    ccRPCArchiveStrings(ar, templateParameterNames_);
    if (ar.isLoading())
        computeKey();
}

// ---- handlers and function tables ----

ccRPCHandlerRegistry& ccRPCHandlerRegistry::instance()
{
    static auto* registry = new ccRPCHandlerRegistry; // never destroyed
    return *registry;
}

int32_t ccRPCHandlerRegistry::add(ccRPCHandlerFunction handler, const ccRPCFunction& d)
{
    auto it = numbers_.find(d);
    if (it != numbers_.end()) {
        if (handlers_[size_t(it->second)] != handler)
            throw ccRPCHandler::DuplicateHandler();
        return it->second;
    }
    const int32_t k = int32_t(handlers_.size());
    handlers_.push_back(handler);
    numbers_.emplace(d, k);
    return k;
}

namespace {

struct FunctionTables {
    std::mutex lock;
    std::map<uint32_t, std::map<ccRPCFunction, int32_t>> tables; // by destination id
};

FunctionTables& functionTables()
{
    static auto* t = new FunctionTables; // never destroyed
    return *t;
}

} // namespace

int32_t ccRPCFunctionTables::find(ccRPCDestination destination, const ccRPCFunction& d)
{
    FunctionTables& t = functionTables();
    {
        std::lock_guard<std::mutex> hold(t.lock);
        auto table = t.tables.find(destination.id());
        if (table == t.tables.end())
            throw ccRPC::UnknownCommunicator();
        auto it = table->second.find(d);
        if (it != table->second.end())
            return it->second;
    }
    throw ccRPC::UnsupportedFunction(ccWidenBytes(d.signature()));
}

void ccRPCFunctionTables::replace(ccRPCDestination destination, std::map<ccRPCFunction, int32_t> table)
{
    FunctionTables& t = functionTables();
    std::lock_guard<std::mutex> hold(t.lock);
    t.tables[destination.id()] = std::move(table);
}

std::map<ccRPCFunction, int32_t> ccRPCLoadFunctionTable(ccArchive& in)
{
    std::vector<ccRPCFunction> descriptors;
    std::vector<uint32_t> numbers;
    uint32_t count = 0;
    ccArchiveVersion(in, 0, "", 0);
    in.archive(count);
    loadCounted(descriptors, count, [&](ccRPCFunction& d) { d.archive(in); });
    ccArchiveVersion(in, 0, "", 0);
    in.archive(count);
    loadCounted(numbers, count, [&](uint32_t& n) { in.archive(n); });
    // Every descriptor needs its number.
    if (numbers.size() < descriptors.size())
        throw ccArchive::BadContent("std/rpc/rpc", __LINE__);
    std::map<ccRPCFunction, int32_t> table;
    for (size_t i = 0; i < descriptors.size(); ++i)
        table[descriptors[i]] = int32_t(numbers[i]); // the last of a repeated one wins
    return table;
}

// ---- connections ----

uint16_t ccRPCOwnEndpoint(ccCommunicator& c) { return uint16_t(ccRPCLocalEndpoint + (c.isSecondary() ? 1 : 0)); }

struct ccRPCCall::Hold {
    explicit Hold(ccRPCDestination destination) : communicator(destination) {}
    ~Hold()
    {
        if (semaphore)
            semaphore->unlock();
        if (baseMutex)
            baseMutex->unlock();
    }
    ccCommunicatorHold communicator; // declared first: goes last
    ccMutex* baseMutex = nullptr;
    ccSemaphore* semaphore = nullptr;
};

namespace {

struct BaseConnection {
    uint32_t destination;
    ccRPCArchivePair pair;
    ccMutex mutex;
    bool broken = false; // under the mutex
};

struct Channel {
    uint32_t destination;
    uint16_t number;
    ccRPCArchivePair pair;
    ccSemaphore semaphore{1, 1};
    bool broken = false; // touched by its thread only
};

// Whether this thread's exit handler is registered: once per thread, for
// its handler table is small and a thread may open channels many times.
thread_local bool tExitHandlerRegistered = false;

struct ThreadEntry {
    ccThreadID thread;
    std::list<Channel> channels;
};

// Never destroyed: nothing is sent to any peer when the process ends.
struct Manager {
    ccMutex mutex;
    std::list<BaseConnection> bases;
    std::list<ThreadEntry> threads;
};

Manager& manager()
{
    static auto* m = new Manager;
    return *m;
}

void storeNumber(ccArchive& ar, int32_t n)
{
    uint32_t word = uint32_t(n);
    ar.archive(word);
}

// The peer's table, fetched over the base connection just opened.
void exchangeFunctionTable(ccCommunicator& c)
{
    std::map<ccRPCFunction, int32_t> table;
    {
        ccRPCCall call(c.destination(), ccRPCOwnEndpoint(c));
        storeNumber(call.storing(), ccRPCCall::kFunctionTable);
        call.readStatus();
        table = ccRPCLoadFunctionTable(call.reading());
    }
    ccRPCFunctionTables::replace(c.destination(), std::move(table));
}

// Whether a channel number answers an endpoint: their low 12 bits agree.
bool answers(uint16_t number, uint16_t endpoint) { return ((number ^ endpoint) & 0xFFF) == 0; }

ThreadEntry* entryOf(Manager& m, const ccThreadID& thread)
{
    for (ThreadEntry& t : m.threads)
        if (t.thread == thread)
            return &t;
    return nullptr;
}

// Tells the peer (-2) and lets the channel settle before it goes. Errors
// are dropped: the channel goes regardless, and this runs while its thread
// leaves. A communicator that has gone leaves nobody to tell.
void tellClosed(const Channel& s) noexcept
{
    try {
        if (ccTransferArchive* storing = s.pair.storing())
            storing->sync();
        const ccRPCDestination destination(s.destination);
        {
            ccCommunicatorHold c(destination);
            ccRPCCall base(destination, ccRPCOwnEndpoint(*c.get()));
            storeNumber(base.storing(), ccRPCCall::kCloseChannel);
            uint16_t number = s.number;
            base.storing().archive(number);
            base.readStatus();
        }
        // The base connection is free meanwhile.
        ccSleep(2.0);
    } catch (...) {
    }
}

void channelExitHandler(const ccThreadID&, void*)
{
    try {
        ccRPCConnections::closeThreadChannels();
    } catch (...) {
        // The manager's lock was broken by a stop request; the channels
        // stay listed until the process ends.
    }
}

} // namespace

void ccRPCConnections::beginBase(ccRPCCall& call, ccCommunicator& c)
{
    Manager& m = manager();
    ccResourceLock managerLock(m.mutex);
    BaseConnection* base = nullptr;
    for (BaseConnection& b : m.bases)
        if (b.destination == c.destination().id())
            base = &b;
    if (!base) {
        std::list<BaseConnection> made;
        made.emplace_back().destination = c.destination().id();
        made.back().pair.accept(c, ccRPCOwnEndpoint(c), 30.0);
        m.bases.splice(m.bases.end(), made);
        base = &m.bases.back();
        // A failed exchange leaves the connection without a table: later
        // calls over it fail with UnknownCommunicator.
        exchangeFunctionTable(c);
    }
    if (!base->mutex.lock(HUGE_VAL))
        throw cc_Resource::BrokenLock();
    call.hold_->baseMutex = &base->mutex;
    if (base->broken) {
        // A call left it mid-reply: a new connection, the same table.
        base->pair.accept(c, ccRPCOwnEndpoint(c), 30.0);
        base->broken = false;
    }
    call.pair_ = &base->pair;
    call.broken_ = &base->broken;
}

void ccRPCConnections::beginChannel(ccRPCCall& call, ccCommunicator& c, uint16_t endpoint)
{
    Manager& m = manager();
    ccResourceLock managerLock(m.mutex);
    const ccThreadID me = ccThreadID::current();
    if (!tExitHandlerRegistered) {
        me.addExitHandler(&channelExitHandler, nullptr);
        tExitHandlerRegistered = true;
    }
    ThreadEntry* entry = entryOf(m, me);
    if (!entry) {
        m.threads.emplace_back().thread = me;
        entry = &m.threads.back();
    }
    Channel* channel = nullptr;
    for (auto it = entry->channels.begin(); it != entry->channels.end(); ++it)
        if (it->destination == c.destination().id() && answers(it->number, endpoint)) {
            // A channel that a call left mid-reply is dropped for a new one.
            if (it->broken && it->semaphore.lock(0))
                entry->channels.erase(it);
            else
                channel = &*it;
            break;
        }
    if (!channel) {
        ccRPCCall base(c.destination(), ccRPCOwnEndpoint(c));
        ccArchive& out = base.storing();
        storeNumber(out, ccRPCCall::kOpenChannel);
        uint16_t requested = endpoint;
        uint32_t one = 1;
        uint32_t priority = uint32_t(ccThreadID::priorityLevel());
        out.archive(requested).archive(one).archive(priority);
        base.readStatus();
        uint16_t number = 0;
        base.reading().archive(number);
        // A number that does not answer the endpoint would never be found
        // again, and every call would open another channel.
        if (!answers(number, endpoint))
            throw ccArchive::BadContent("std/rpc/rpc", __LINE__);
        std::list<Channel> made;
        made.emplace_back();
        made.back().destination = c.destination().id();
        made.back().number = number;
        made.back().pair.accept(c, number, HUGE_VAL);
        entry->channels.splice(entry->channels.end(), made);
        channel = &entry->channels.back();
    }
    if (!channel->semaphore.lock(0))
        throw ccRPC::NestedRPC();
    call.hold_->semaphore = &channel->semaphore;
    call.pair_ = &channel->pair;
    call.broken_ = &channel->broken;
}

void ccRPCConnections::closeThreadChannels(ccRPCDestination destination)
{
    std::list<Channel> closing;
    {
        Manager& m = manager();
        ccResourceLock managerLock(m.mutex);
        ThreadEntry* entry = entryOf(m, ccThreadID::current());
        if (!entry)
            return;
        for (auto it = entry->channels.begin(); it != entry->channels.end();) {
            const auto next = std::next(it);
            // A channel that this thread is calling on stays.
            if ((!destination || it->destination == destination.id()) && it->semaphore.lock(0))
                closing.splice(closing.end(), entry->channels, it);
            it = next;
        }
        if (entry->channels.empty())
            m.threads.remove_if([&](const ThreadEntry& t) { return &t == entry; });
    }
    // Told outside the manager's lock: the pause after each holds up no
    // other thread's calls.
    for (Channel& s : closing) {
        tellClosed(s);
        s.semaphore.unlock();
    }
}

// ---- calls ----

ccRPCCall::ccRPCCall(ccRPCDestination destination, uint16_t endpoint)
    : destination_(destination), exceptionsAtStart_(std::uncaught_exceptions()),
      hold_(std::make_unique<Hold>(destination))
{
    ccCommunicator* c = hold_->communicator.get();
    if (!c)
        throw ccBadPointer();
    // A closed communicator opens no connection to call over.
    if (c->isClosed())
        throw cc_Resource::BrokenLock();
    if (endpoint == ccRPCOwnEndpoint(*c))
        ccRPCConnections::beginBase(*this, *c);
    else
        ccRPCConnections::beginChannel(*this, *c, endpoint);
}

ccRPCCall::~ccRPCCall()
{
    // Marked while the connection's lock is still held (the hold goes after).
    if (broken_ && started_ && !replyRead_ && std::uncaught_exceptions() > exceptionsAtStart_)
        *broken_ = true;
}

ccArchive& ccRPCCall::sendFunctionId(const ccRPCFunction& d)
{
    // Looked up before anything is stored: an unlisted function leaves the
    // connection as it was.
    const int32_t number = ccRPCFunctionTables::find(destination_, d);
    storeNumber(storing(), number);
    return storing();
}

void ccRPCCall::readStatus()
{
    storing().sync();
    ccRPCReadStatus(reading(), &replyRead_);
}

void ccRPCReadStatus(ccArchive& in, bool* errorReadWhole)
{
    uint8_t status = 0;
    in.archive(status);
    ccPersistent* loaded = nullptr;
    uint32_t code = ccRPC::RuntimeError::kCode;
    std::wstring message;
    switch (status) {
    case 1:
        archivePointer(in, nullptr, loaded);
        break;
    case 2:
        in.archive(code).archive(message);
        break;
    case 3:
        in.archive(code);
        break;
    default:
        return;
    }
    if (errorReadWhole)
        *errorReadWhole = true;
    if (auto* e = dynamic_cast<ccException*>(loaded))
        e->raise();
    // Nothing to raise: a null object or one that is no error.
    delete loaded;
    throw ccRPC::RuntimeError(message, code);
}
