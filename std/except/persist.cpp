#include "std/except/persist.h"
#include "std/except/persist_testing.h"

#include <cmath>
#include <cstring>

#include <array>
#include <list>
#include <mutex>
#include <set>
#include <thread>
#include <typeindex>
#include <utility>
#include <vector>

#include "std/except/archutil.h"
#include "std/except/internal/archive_tables.h"
#include "std/except/internal/archutil_error.h"
#include "std/except/resource.h"

namespace {

// ---- whole-object operations ----

typedef std::pair<const void*, std::type_index> VisitKey;

struct Context {
    Context() : thread(std::this_thread::get_id()) {}
    std::thread::id thread;
    std::set<VisitKey> visited;
};

// All never destroyed: an archive may be used while the process exits.
ccMutex& archiveMutex()
{
    static auto* m = new ccMutex;
    return *m;
}

// Guards the context list itself, so that a stray caller on another thread
// reads it safely while an operation runs.
std::mutex& contextsLock()
{
    static auto* m = new std::mutex;
    return *m;
}

// Newest first; touched only under the archive mutex.
std::list<Context>& contexts()
{
    static auto* c = new std::list<Context>;
    return *c;
}

// Removes the context pushed for one operation on every way out.
class ContextFrame {
public:
    ContextFrame()
    {
        std::lock_guard<std::mutex> hold(contextsLock());
        contexts().emplace_front();
    }
    ~ContextFrame()
    {
        std::lock_guard<std::mutex> hold(contextsLock());
        contexts().pop_front();
    }
    ContextFrame(const ContextFrame&) = delete;
    ContextFrame& operator=(const ContextFrame&) = delete;
};

// Only a context of the calling thread counts: another thread's operation
// cannot be current here. Called with the contexts lock held.
Context& currentContext()
{
    std::list<Context>& list = contexts();
    if (list.empty() || list.front().thread != std::this_thread::get_id())
        throw ccInvariantFailure();
    return list.front();
}

VisitKey visitKey(const ccPersistent* object, const std::type_info& level)
{
    // One address for the whole object, whichever base the level sees.
    return VisitKey(dynamic_cast<const void*>(object), std::type_index(level));
}

// ---- registry ----

struct Registration {
    std::string name; // reading form, "wchar_t" already read as "unsigned short"
    ccPersistentFactory factory;
};

struct Registry {
    std::mutex lock;
    std::vector<Registration> entries;
};

Registry& registry()
{
    static auto* r = new Registry;
    return *r;
}

void replaceAll(std::string& s, const std::string& from, const std::string& to)
{
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
}

bool isSeparator(char c) { return c == '<' || c == ',' || c == '>'; }

std::string wideCharAsUnsignedShort(std::string name)
{
    replaceAll(name, "wchar_t", "unsigned short");
    return name;
}

// ---- type records ----

// The name table: ROT47 over the printable characters '!'..'~', every other
// value (controls, blank, DEL) kept. It is its own inverse, so one table
// serves both directions, and it never yields bit 7, which marks an encoded
// name on its first byte.
constexpr std::array<unsigned char, 128> makeNameTable()
{
    std::array<unsigned char, 128> t{};
    for (int b = 0; b < 128; ++b)
        t[b] = static_cast<unsigned char>(b >= 33 && b <= 126 ? 33 + (b - 33 + 47) % 94 : b);
    return t;
}
constexpr std::array<unsigned char, 128> kNameTable = makeNameTable();

constexpr bool isInvolution()
{
    for (int b = 0; b < 128; ++b)
        if (kNameTable[kNameTable[b]] != b)
            return false;
    return true;
}
static_assert(isInvolution(), "the name table must undo itself");

// Type names are ASCII; bit 7 of a byte is not kept.
void applyNameTable(std::string& s)
{
    for (char& c : s)
        c = static_cast<char>(kNameTable[static_cast<unsigned char>(c) & 0x7F]);
}

const char kNoType[] = "$nt";

} // namespace

// ---- the ccPersistent level ----

void ccPersistent::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccPersistent)))
        return;
    ccArchiveVersion(ar, 0, "", 0);
    ccArchiveVisit::end(this, typeid(ccPersistent));
}

bool ccArchiveVisit::begin(const ccPersistent* object, const std::type_info& level)
{
    std::lock_guard<std::mutex> hold(contextsLock());
    Context& c = currentContext();
    return c.visited.count(visitKey(object, level)) != 0;
}

void ccArchiveVisit::end(const ccPersistent* object, const std::type_info& level)
{
    std::lock_guard<std::mutex> hold(contextsLock());
    currentContext().visited.insert(visitKey(object, level));
}

uint8_t ccArchiveVersion(ccArchive& ar, uint8_t current, const char* name, uint32_t line)
{
    uint8_t version = current;
    ar.archive(version);
    if (ar.isLoading() && version > current)
        throw ccArchive::UnknownVersion(name, line);
    return version;
}

ccArchiveMutexLock::ccArchiveMutexLock() : held_(archiveMutex().lock(HUGE_VAL)) {}

ccArchiveMutexLock::~ccArchiveMutexLock()
{
    if (held_)
        archiveMutex().unlock();
}

void ccArchiveObject(ccPersistent& object, ccArchive& ar, bool resetBeforeLoad)
{
    if (ar.isLoading() && resetBeforeLoad)
        object.beforeLoad();
    // Destroyed in reverse: the context goes first, then the locks. The
    // archive-table lock comes first, as in pointer operations, so that an
    // object stored from inside a direct call cannot invert the order.
    ccArchiveTableLock tableLock;
    ccArchiveMutexLock lock;
    ContextFrame frame;
    object.archive(ar);
}

// ---- registry ----

ccPersistentRegistrar::ccPersistentRegistrar(const char* readingName, ccPersistentFactory factory)
{
    if (!readingName || !factory)
        return;
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.entries.push_back({wideCharAsUnsignedShort(readingName), factory});
}

std::vector<std::pair<std::string, ccPersistentFactory>> ccRegisteredPersistentTypes()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    std::vector<std::pair<std::string, ccPersistentFactory>> out;
    for (const Registration& e : r.entries)
        out.emplace_back(e.name, e.factory);
    return out;
}

ccPersistentFactory ccFindFactory(const std::string& readingName)
{
    const std::string wanted = wideCharAsUnsignedShort(readingName);
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (const Registration& e : r.entries)
        if (e.name == wanted)
            return e.factory;
    return nullptr;
}

// ---- type names and records ----

std::string ccCanonicalTypeName(const std::string& compilerName)
{
    std::string s = compilerName;
    replaceAll(s, "class ", "");
    replaceAll(s, "> ", ">");
    return wideCharAsUnsignedShort(s);
}

std::string ccCompilerTypeName(const std::string& canonicalName)
{
    static const char* const kBuiltIn[] = {"unsigned char", "signed char", "char",  "unsigned short",
                                           "short",         "unsigned int", "int",   "unsigned long",
                                           "long",          "float",        "double"};
    std::string out;
    const std::string& s = canonicalName;
    size_t i = 0;
    while (i < s.size()) {
        if (isSeparator(s[i])) {
            out += s[i++];
            continue;
        }
        size_t end = i;
        while (end < s.size() && !isSeparator(s[end]))
            ++end;
        const std::string token = s.substr(i, end - i);
        // A built-in type, or the leading part of one, stays bare; so does a
        // run that starts with ':' after a delimiter ("ccA<int>::B").
        bool bare = i > 0 && token[0] == ':';
        for (const char* b : kBuiltIn) {
            if (token.size() <= std::strlen(b) && token.compare(0, token.size(), b, token.size()) == 0) {
                bare = true;
                break;
            }
        }
        if (!bare)
            out += "class ";
        out += token;
        i = end;
    }
    for (size_t k = 0; k + 1 < out.size(); ++k) {
        if (out[k] == '>' && out[k + 1] == '>')
            out.insert(k + 1, 1, ' ');
    }
    return out;
}

void ccArchiveTypeName(ccArchive& ar, std::string& name)
{
    uint8_t versionA = 0;
    uint8_t versionB = 0;
    uint16_t reserved = 0;
    std::string stored;

    if (ar.isStoring()) {
        stored = name.empty() ? kNoType : ccCanonicalTypeName(name);
        applyNameTable(stored);
        if (!stored.empty())
            stored[0] = static_cast<char>(stored[0] | 0x80);
        ar.archive(versionA).archive(versionB).archive(stored).archive(reserved);
        return;
    }

    ar.archive(versionA).archive(versionB).archive(stored).archive(reserved);
    if (versionA != 0 || versionB != 0)
        throw cmArchutilError(UnknownVersion);
    if (reserved != 0)
        throw cmArchutilError(BadFile);
    // A name whose first byte lacks bit 7 was stored plain.
    if (!stored.empty() && (static_cast<unsigned char>(stored[0]) & 0x80))
        applyNameTable(stored);
    if (stored == kNoType)
        return;
    const std::string c_UInt8 = "<c_UInt8>";
    size_t at = stored.find(c_UInt8);
    if (at != std::string::npos)
        stored = stored.substr(0, at) + "<unsigned char>";
    name = ccCompilerTypeName(stored);
    if (!ccFindFactory(name))
        throw ccArchive::UnknownType("archutil", __LINE__, stored);
}
