// Remote procedure calls, the calling side.
//
// A remote function is named by its descriptor (name and type texts); the
// peer's number for it is learnt once per communicator from the peer's
// function table. Calls to this process's own endpoint on a communicator
// travel over the communicator's base connection; calls to any other
// endpoint over a channel that belongs to the calling thread and is closed
// when the thread leaves.
//
// A call is always: begin it (ccRPCCall), sendFunctionId, store the
// arguments, readStatus, load the reference arguments and the result, end
// it (the destructor).
//
// Lock order: the connection manager's mutex, then a base connection's
// mutex (waited for without limit) or a channel's semaphore (not waited
// for). All mutexes are recursive, so the thread that opens a channel or
// fetches a function table may begin the nested base call that does it.
#pragma once
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "std/except/except.h"
#include "std/rpc/communicator.h"
#include "std/rpc/transfer.h"

class ccRPC {
public:
    cmDeclareErrorFamily(Errors, ccExceptionWithString, "class ccRPC::Errors");
    // Raised by serving sides; arrives as a status-1 reply.
    cmDeclareException(ObjectMismatch, Errors, 0x10003400u, "class ccRPC::ObjectMismatch");
    cmDeclareException(UnknownCommunicator, Errors, 0x10003402u, "class ccRPC::UnknownCommunicator");
    // The message is the signature of the function the peer does not list.
    cmDeclareException(UnsupportedFunction, Errors, 0x10003403u, "class ccRPC::UnsupportedFunction");
    cmDeclareException(CouldNotStartService, Errors, 0x10003405u, "class ccRPC::CouldNotStartService");
    // A thread began a call on a channel on which it is already inside one.
    cmDeclareException(NestedRPC, Errors, 0x10003406u, "class ccRPC::NestedRPC");

    // An error reply that carries a code (and perhaps a message) instead of
    // an error object. The code is not archived: a loaded one has kCode.
    class RuntimeError : public Errors {
    public:
        static constexpr uint32_t kCode = 0x10003401u;
        static constexpr const char* kStoredName = "class ccRPC::RuntimeError";

        RuntimeError() = default;
        RuntimeError(const std::wstring& message, uint32_t code) : Errors(message), code_(code) {}

        uint32_t code() const override { return code_; }
        const char* storedTypeName() const override { return kStoredName; }
        [[noreturn]] void raise() override
        {
            RuntimeError copy(*this);
            delete this;
            throw copy;
        }
        static ccPersistent* cmCreate() { return new (std::nothrow) RuntimeError; }
        cmExceptionArchiveLevel(RuntimeError, Errors, "class ccRPC::RuntimeError")

    private:
        uint32_t code_ = kCode;
    };
};

// The serving side's table of handlers.
class ccRPCHandler {
public:
    typedef ccRPC::Errors Errors;
    cmDeclareException(DuplicateHandler, Errors, 0x10003404u, "class ccRPCHandler::DuplicateHandler");
};

// The process-wide local endpoint number.
constexpr uint16_t ccRPCLocalEndpoint = 0;

// Names one remote function: name, return type, argument types and, for a
// template, its parameters' names and the canonical names of the types it is
// instantiated with. Ordered by a key computed from these, then by name and
// types; the return type counts only through its length, the flags only
// through their low four bits and the parameter names not at all.
class ccRPCFunction {
public:
    // Only to be filled by loading: flags 0x10, empty texts.
    ccRPCFunction() { computeKey(); }
    // templateParameters: (parameter name, the run-time type name of the type
    // it is instantiated with), which is canonicalised.
    ccRPCFunction(const std::string& name, uint8_t flags, const std::string& returnType,
                  std::vector<std::string> argumentTypes,
                  const std::vector<std::pair<std::string, std::string>>& templateParameters = {});

    // "template<P=unsigned short> cmStd vector<P> cf_F(c_Int32, P)", then
    // " const" and " volatile" for member functions that have them.
    std::string signature() const;

    // Version byte, name, flags, return type and the three string vectors;
    // loading recomputes the key.
    void archive(ccArchive& ar);

    uint8_t flags() const { return flags_; }
    const std::string& name() const { return name_; }
    const std::string& returnType() const { return returnType_; }
    const std::vector<std::string>& argumentTypes() const { return argumentTypes_; }
    const std::vector<std::string>& templateArgumentTypes() const { return templateArgumentTypes_; }
    const std::vector<std::string>& templateParameterNames() const { return templateParameterNames_; }
    uint32_t key() const { return key_; }

    friend bool operator<(const ccRPCFunction& a, const ccRPCFunction& b);

private:
    void computeKey();

    uint8_t flags_ = 0x10;
    std::string name_;
    std::string returnType_;
    std::vector<std::string> argumentTypes_;
    std::vector<std::string> templateArgumentTypes_;
    std::vector<std::string> templateParameterNames_;
    uint32_t key_ = 0;
};

// A vector of narrow strings on the wire: version byte, count, strings.
void ccRPCArchiveStrings(ccArchive& ar, std::vector<std::string>& strings);

// Reads the arguments of one request from the pair's reading archive and
// writes the whole successful reply to its storing archive.
typedef void (*ccRPCHandlerFunction)(ccRPCArchivePair& pair);

// The local handlers, numbered densely from 0 in registration order.
// Registrations run during start-up, before any call, and take no lock.
class ccRPCHandlerRegistry {
public:
    static ccRPCHandlerRegistry& instance();

    // The local number of d: the one it has when it is registered with the
    // same handler already; DuplicateHandler when with another.
    int32_t add(ccRPCHandlerFunction handler, const ccRPCFunction& d);

    const std::vector<ccRPCHandlerFunction>& handlers() const { return handlers_; }
    const std::map<ccRPCFunction, int32_t>& numbers() const { return numbers_; }

private:
    std::vector<ccRPCHandlerFunction> handlers_;
    std::map<ccRPCFunction, int32_t> numbers_;
};

// The peers' function tables, one per communicator, learnt on first contact.
class ccRPCFunctionTables {
public:
    // The peer's number of d; UnknownCommunicator when no table was learnt
    // from the destination, UnsupportedFunction when the peer does not list d.
    static int32_t find(ccRPCDestination destination, const ccRPCFunction& d);
    // Replaces the destination's table.
    static void replace(ccRPCDestination destination, std::map<ccRPCFunction, int32_t> table);
};

class ccRPCCall;

// Base connections and the threads' channels. Nothing is ever sent to a
// peer when the process ends; a channel is closed (-2) when its thread leaves.
class ccRPCConnections {
public:
    // Closes the channels of the calling thread: all of them, or those of one
    // destination. Every channel goes, also when telling its peer fails.
    static void closeThreadChannels(ccRPCDestination destination = ccRPCDestination());

private:
    friend class ccRPCCall;
    static void beginBase(ccRPCCall& call, ccCommunicator& c);
    static void beginChannel(ccRPCCall& call, ccCommunicator& c, uint16_t endpoint);
};

// One call in progress. Holds its connection (and the communicator) from the
// constructor to the destructor, also when an error leaves the call.
class ccRPCCall {
public:
    // Built-in function numbers, sent over a base connection only.
    static constexpr int32_t kOpenChannel = -1;
    static constexpr int32_t kCloseChannel = -2;
    static constexpr int32_t kFunctionTable = -3;

    // ccRemoteObject::ObjectMismatch for a destination that names no live
    // communicator, ccBadPointer for destination 0, cc_Resource::BrokenLock
    // for a closed one; NestedRPC for a channel this thread is already
    // calling on; errors of opening the connection pass through.
    ccRPCCall(ccRPCDestination destination, uint16_t endpoint);
    ~ccRPCCall();
    ccRPCCall(const ccRPCCall&) = delete;
    ccRPCCall& operator=(const ccRPCCall&) = delete;

    // Writes the peer's number of d and returns the archive for the arguments.
    ccArchive& sendFunctionId(const ccRPCFunction& d);
    // Sends the request and reads the reply's status. An error reply, read
    // whole, raises:
    // the peer's own exception (status 1), RuntimeError (status 2 or 3; also
    // for a status 1 that carries no exception). Any other status is success,
    // and the results follow on reading().
    void readStatus();

    ccTransferArchive& reading() const { return *pair_->reading(); }
    // Anything stored belongs to this call's request from then on.
    ccTransferArchive& storing() const
    {
        started_ = true;
        return *pair_->storing();
    }

private:
    friend class ccRPCConnections;
    struct Hold;

    ccRPCDestination destination_;
    ccRPCArchivePair* pair_ = nullptr;
    // Set on the connection when an error leaves the call between its first
    // stored byte and the end of an error reply: what the connection carries
    // next is no longer known, so it is opened afresh before it is used again.
    bool* broken_ = nullptr;
    mutable bool started_ = false;
    bool replyRead_ = false;
    int exceptionsAtStart_;
    std::unique_ptr<Hold> hold_;
};

// The reply parsers. Peer input is untrusted: whatever arrives gives a
// library error, never a read past what arrived or an allocation the bytes
// do not back.
// A reply's status: raises for an error reply (see ccRPCCall::readStatus),
// first setting *errorReadWhole when the error was read to its end.
void ccRPCReadStatus(ccArchive& in, bool* errorReadWhole = nullptr);
// A function-table reply after its status: descriptor i has number i; the
// last of a repeated descriptor wins; fewer numbers than descriptors is
// ccArchive::BadContent.
std::map<ccRPCFunction, int32_t> ccRPCLoadFunctionTable(ccArchive& in);

// This process's own endpoint on c: the local endpoint, + 1 on the second side.
uint16_t ccRPCOwnEndpoint(ccCommunicator& c);
