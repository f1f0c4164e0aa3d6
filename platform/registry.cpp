#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "platform/descriptor_io.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "platform/registry_testing.h"
#include "platform/text.h"

namespace plat {
namespace {

struct Value {
    std::wstring name;
    RegistryType type;
    std::vector<uint8_t> bytes;
};

// Maps are keyed by folded name; each entry keeps the name as made.
struct Key {
    std::wstring name;
    std::map<std::wstring, std::shared_ptr<Key>> children;
    std::map<std::wstring, Value> values;
};

const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

struct Registry {
    std::mutex lock;
    bool loaded = false;
    std::shared_ptr<Key> roots[2] = {std::make_shared<Key>(), std::make_shared<Key>()};
    // Open keys keep their node alive even when the tree is cleared.
    std::unordered_map<RegistryKey, std::shared_ptr<Key>> open;
    RegistryKey nextId = 1;
};

// Never destroyed, so that late users at exit find it.
Registry& registry()
{
    static Registry* instance = new Registry;
    return *instance;
}

// Names are kept in the file as UTF-8, which holds Unicode characters only:
// a lone surrogate would come back as U+FFFD and collide with another name.
bool validName(const std::wstring& name)
{
    std::string utf8;
    return utf8FromWideStrict(name, &utf8);
}

// The names of a path; false when one is empty or not valid.
bool splitPath(const std::wstring& path, std::vector<std::wstring>* names)
{
    names->clear();
    if (!validName(path))
        return false;
    std::wstring rest = path;
    if (!rest.empty() && rest.back() == L'\\')
        rest.pop_back();
    if (rest.empty())
        return path.empty();
    size_t start = 0;
    for (;;) {
        const size_t end = rest.find(L'\\', start);
        names->push_back(rest.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (names->back().empty())
            return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

// Walks (and with create, makes) the keys of names below root.
std::shared_ptr<Key> walk(std::shared_ptr<Key> key, const std::vector<std::wstring>& names, bool create)
{
    for (const std::wstring& name : names) {
        const std::wstring folded = foldCase(name);
        const auto found = key->children.find(folded);
        if (found != key->children.end()) {
            key = found->second;
            continue;
        }
        if (!create)
            return nullptr;
        auto child = std::make_shared<Key>();
        child->name = name;
        key = key->children[folded] = child;
    }
    return key;
}

// ---- The file

struct FileLine {
    RegistryRoot root;
    std::vector<std::wstring> path;
    bool hasValue;
    Value value;
};

const char kHex[] = "0123456789abcdef";

std::string escape(const std::wstring& text)
{
    std::string out;
    for (char ch : utf8FromWide(text)) {
        const auto byte = static_cast<uint8_t>(ch);
        if (byte < 0x20 || byte == 0x7F || ch == '%' || ch == '\\' || ch == ';' || ch == '=') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int hexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

bool unescape(const std::string& text, std::wstring* out)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = hexDigit(text[i + 1]);
        const int low = hexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return wideFromUtf8Strict(bytes, out);
}

bool parseHex(const std::string& text, std::vector<uint8_t>* bytes)
{
    if (text.size() % 2 != 0)
        return false;
    bytes->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

// Decimal digits of a 32-bit number, as formatValue writes them.
bool parseTypeNumber(const std::string& text, uint32_t* number)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(ch - '0');
    }
    if (value > UINT32_MAX)
        return false;
    *number = static_cast<uint32_t>(value);
    return true;
}

std::string formatValue(const Value& value)
{
    std::string out = escape(value.name) + '=';
    std::wstring text;
    if (value.type == RegistryType::int32 && value.bytes.size() == 4) {
        char number[9];
        const uint32_t v = value.bytes[0] | (value.bytes[1] << 8) | (value.bytes[2] << 16)
            | (static_cast<uint32_t>(value.bytes[3]) << 24);
        std::snprintf(number, sizeof number, "%08x", v);
        return out + "int32:" + number;
    }
    if (value.type == RegistryType::string && wideFromUtf16Bytes(value.bytes, &text))
        return out + "string:" + escape(text);
    out += "bytes(" + std::to_string(static_cast<uint32_t>(value.type)) + "):";
    for (uint8_t byte : value.bytes) {
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    }
    return out;
}

// One line; false with the reason when it is malformed.
bool parseLine(const std::string& line, FileLine* parsed, std::string* reason)
{
    const size_t semicolon = line.find(';');
    const std::string keyPart = line.substr(0, semicolon);
    const size_t slash = keyPart.find('\\');
    const std::string rootName = keyPart.substr(0, slash);
    if (rootName == kRootNames[0])
        parsed->root = RegistryRoot::localMachine;
    else if (rootName == kRootNames[1])
        parsed->root = RegistryRoot::currentUser;
    else
        return *reason = "unknown root", false;

    parsed->path.clear();
    for (size_t start = slash; start != std::string::npos;) {
        const size_t end = keyPart.find('\\', start + 1);
        std::wstring name;
        if (!unescape(keyPart.substr(start + 1, end == std::string::npos ? end : end - start - 1), &name)
            || name.empty())
            return *reason = "bad key name", false;
        parsed->path.push_back(name);
        start = end;
    }

    parsed->hasValue = semicolon != std::string::npos;
    if (!parsed->hasValue)
        return true;
    const std::string rest = line.substr(semicolon + 1);
    const size_t equals = rest.find('=');
    const size_t colon = rest.find(':', equals);
    if (equals == std::string::npos || colon == std::string::npos)
        return *reason = "expected name=type:data", false;
    if (!unescape(rest.substr(0, equals), &parsed->value.name))
        return *reason = "bad value name", false;
    const std::string type = rest.substr(equals + 1, colon - equals - 1);
    const std::string data = rest.substr(colon + 1);
    std::vector<uint8_t>& bytes = parsed->value.bytes;
    if (type == "int32") {
        if (data.size() != 8 || !parseHex(data, &bytes))
            return *reason = "bad int32", false;
        std::swap(bytes[0], bytes[3]), std::swap(bytes[1], bytes[2]);
        parsed->value.type = RegistryType::int32;
    } else if (type == "string") {
        std::wstring text;
        if (!unescape(data, &text))
            return *reason = "bad string", false;
        bytes = utf16BytesFromWide(text);
        parsed->value.type = RegistryType::string;
    } else if (type.compare(0, 6, "bytes(") == 0 && type.back() == ')') {
        uint32_t number = 0;
        if (!parseTypeNumber(type.substr(6, type.size() - 7), &number))
            return *reason = "unknown type", false;
        if (!parseHex(data, &bytes))
            return *reason = "bad bytes", false;
        parsed->value.type = static_cast<RegistryType>(number);
    } else {
        return *reason = "unknown type", false;
    }
    return true;
}

bool parseFile(const std::wstring& path, std::vector<FileLine>* lines, std::wstring* error)
{
    std::string name;
    std::vector<uint8_t> bytes;
    if (!systemNameFromWide(path, &name) || !detail::readRegularFile(name, &bytes))
        return *error = L"cannot read " + path, false;
    std::string text(bytes.begin(), bytes.end());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);

    std::istringstream stream(text);
    std::string line;
    for (uint32_t number = 1; std::getline(stream, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        FileLine parsed;
        std::string reason;
        if (!parseLine(line, &parsed, &reason)) {
            *error = path + L": line " + std::to_wstring(number) + L": " + wideFromUtf8(reason);
            return false;
        }
        lines->push_back(std::move(parsed));
    }
    return true;
}

void apply(Registry& r, std::vector<FileLine>& lines)
{
    for (FileLine& line : lines) {
        std::shared_ptr<Key> key = walk(r.roots[static_cast<int>(line.root)], line.path, true);
        if (line.hasValue)
            key->values[foldCase(line.value.name)] = std::move(line.value);
    }
}

void writeKey(std::ostream& out, const std::string& path, const Key& key)
{
    for (const auto& [folded, value] : key.values)
        out << path << ';' << formatValue(value) << '\n';
    if (key.values.empty() && key.children.empty())
        out << path << '\n';
    for (const auto& [folded, child] : key.children)
        writeKey(out, path + '\\' + escape(child->name), *child);
}

// Under the lock: the first use loads the file that the environment names.
Registry& loadedRegistry(std::unique_lock<std::mutex>* held)
{
    Registry& r = registry();
    *held = std::unique_lock<std::mutex>(r.lock);
    if (r.loaded)
        return r;
    r.loaded = true;
    std::wstring path;
    if (!environmentVariable(L"QORALT_REGISTRY_FILE", &path))
        return r;
    std::vector<FileLine> lines;
    std::wstring error;
    if (parseFile(path, &lines, &error))
        apply(r, lines);
    else
        reportEvent(L"Qoralt", L"Can't load the registry: " + error);
    return r;
}

std::shared_ptr<Key> openedKey(Registry& r, RegistryKey key)
{
    const auto found = r.open.find(key);
    return found == r.open.end() ? nullptr : found->second;
}

RegistryStatus openKey(RegistryRoot root, const std::wstring& path, RegistryKey* key, bool create)
{
    if (key == nullptr)
        return RegistryStatus::badArgument;
    *key = 0;
    std::vector<std::wstring> names;
    const int rootIndex = static_cast<int>(root);
    if ((rootIndex != 0 && rootIndex != 1) || !splitPath(path, &names))
        return RegistryStatus::badArgument;
    std::unique_lock<std::mutex> held;
    Registry& r = loadedRegistry(&held);
    std::shared_ptr<Key> node = walk(r.roots[rootIndex], names, create);
    if (!node)
        return RegistryStatus::notFound;
    while (r.nextId == 0 || r.open.count(r.nextId) != 0)
        ++r.nextId;
    *key = r.nextId++;
    r.open.emplace(*key, std::move(node));
    return RegistryStatus::ok;
}

} // namespace

RegistryStatus openRegistryKey(RegistryRoot root, const std::wstring& path, RegistryKey* key)
{
    return openKey(root, path, key, false);
}

RegistryStatus createRegistryKey(RegistryRoot root, const std::wstring& path, RegistryKey* key)
{
    return openKey(root, path, key, true);
}

RegistryStatus closeRegistryKey(RegistryKey key)
{
    std::unique_lock<std::mutex> held;
    return loadedRegistry(&held).open.erase(key) != 0 ? RegistryStatus::ok : RegistryStatus::badHandle;
}

RegistryStatus queryRegistryValue(RegistryKey key, const std::wstring& name, RegistryValue* value)
{
    if (value == nullptr)
        return RegistryStatus::badArgument;
    std::unique_lock<std::mutex> held;
    std::shared_ptr<Key> node = openedKey(loadedRegistry(&held), key);
    if (!node)
        return RegistryStatus::badHandle;
    const auto found = node->values.find(foldCase(name));
    if (found == node->values.end())
        return RegistryStatus::notFound;
    value->type = found->second.type;
    value->bytes = found->second.bytes;
    return RegistryStatus::ok;
}

RegistryStatus setRegistryValue(RegistryKey key, const std::wstring& name, RegistryType type,
                                const std::vector<uint8_t>& bytes)
{
    if (!validName(name))
        return RegistryStatus::badArgument;
    std::unique_lock<std::mutex> held;
    std::shared_ptr<Key> node = openedKey(loadedRegistry(&held), key);
    if (!node)
        return RegistryStatus::badHandle;
    node->values[foldCase(name)] = Value{name, type, bytes};
    return RegistryStatus::ok;
}

RegistryStatus deleteRegistryKey(RegistryRoot root, const std::wstring& path, bool withSubkeys)
{
    std::vector<std::wstring> names;
    const int rootIndex = static_cast<int>(root);
    if ((rootIndex != 0 && rootIndex != 1) || !splitPath(path, &names) || names.empty())
        return RegistryStatus::badArgument;
    const std::wstring last = foldCase(names.back());
    names.pop_back();
    std::unique_lock<std::mutex> held;
    Registry& r = loadedRegistry(&held);
    std::shared_ptr<Key> parent = walk(r.roots[rootIndex], names, false);
    const auto found = parent ? parent->children.find(last) : std::map<std::wstring, std::shared_ptr<Key>>::iterator{};
    if (!parent || found == parent->children.end())
        return RegistryStatus::notFound;
    if (!withSubkeys && !found->second->children.empty())
        return RegistryStatus::hasSubkeys;
    parent->children.erase(found);
    return RegistryStatus::ok;
}

RegistryStatus deleteRegistryValue(RegistryKey key, const std::wstring& name)
{
    std::unique_lock<std::mutex> held;
    std::shared_ptr<Key> node = openedKey(loadedRegistry(&held), key);
    if (!node)
        return RegistryStatus::badHandle;
    return node->values.erase(foldCase(name)) != 0 ? RegistryStatus::ok : RegistryStatus::notFound;
}

bool loadRegistryFile(const std::wstring& path, std::wstring* error)
{
    std::vector<FileLine> lines;
    if (!parseFile(path, &lines, error))
        return false;
    std::unique_lock<std::mutex> held;
    apply(loadedRegistry(&held), lines);
    return true;
}

bool saveRegistryFile(const std::wstring& path, std::wstring* error)
{
    std::ostringstream text;
    {
        std::unique_lock<std::mutex> held;
        Registry& r = loadedRegistry(&held);
        for (int root = 0; root < 2; ++root)
            for (const auto& [folded, child] : r.roots[root]->children)
                writeKey(text, std::string(kRootNames[root]) + '\\' + escape(child->name), *child);
        for (int root = 0; root < 2; ++root)
            for (const auto& [folded, value] : r.roots[root]->values)
                text << kRootNames[root] << ';' << formatValue(value) << '\n';
    }
    // A new file replaces the old one only when whole and on disk, so a
    // failed save (or a crash) loses nothing. Each save writes a temporary
    // of its own; saves run one at a time.
    static std::mutex saving;
    std::lock_guard<std::mutex> one(saving);
    std::string target;
    if (!systemNameFromWide(path, &target))
        return *error = L"cannot write " + path, false;
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return *error = L"cannot write " + path, false;
    struct stat old{};
    if (::stat(target.c_str(), &old) == 0)
        (void)::fchmod(fd, old.st_mode & 07777);
    const std::string bytes = text.str();
    bool written = detail::writeAll(fd, bytes.data(), bytes.size());
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written) {
        ::unlink(temporary.c_str());
        return *error = L"cannot write " + path, false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return *error = L"cannot replace " + path, false;
    }
    // The rename itself reaches the disk with its directory.
    const size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

void clearRegistry()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> held(r.lock);
    r.roots[0] = std::make_shared<Key>();
    r.roots[1] = std::make_shared<Key>();
    r.open.clear();
    r.loaded = false;
}

} // namespace plat
