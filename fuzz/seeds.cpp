// Writes the generated seeds of an archive fuzz target into a directory
// (scripts/fuzz runs it before the target):
//   seeds archive <dir>   for every persistent class of the library, an object
//                         with its defaults stored through a pointer, as
//                         operation 16 of fuzz/archive_fuzz.cpp reads it;
//                         the aggregates also with settings, and pel roots
//                         with pels
//   seeds acqprops <dir>  the property aggregates, plain and analog, stored
//                         with their defaults and with settings, for each
//                         board of fuzz/acqprops_fuzz.cpp
// A class whose archive refuses to store is named by a record without its
// fields. Exits with 1 when a class cannot be made or a seed written.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/analog.h"
#include "fuzz/library_types.h"
#include "std/except/archive.h"
#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/except/persist_testing.h"
#include "std/pelbuf/pelroot.h"
#include "std/ptrhandle.h"

namespace {

// One control byte, then what store writes into a little-endian archive
// after its header.
std::string archived(unsigned char control, const std::function<void(ccArchive&)>& store)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    {
        ccArchive out(&sb, ccArchive::storing, ccArchive::littleEndian, false);
        out.archiveHeader();
        store(out);
        out.flush();
    }
    return std::string(1, static_cast<char>(control)) + sb.str();
}

bool write(const std::string& dir, const std::string& name, const std::string& bytes)
{
    std::ofstream file(dir + "/" + name, std::ios::binary);
    file << bytes;
    return static_cast<bool>(file);
}

// A file name from a stored type name: "class ccPelRoot<unsigned char>"
// becomes "ccPelRoot_unsigned_char_".
std::string fileName(std::string type)
{
    const std::string prefix = "class ";
    if (type.compare(0, prefix.size(), prefix) == 0)
        type.erase(0, prefix.size());
    for (char& c : type)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return type;
}

// Stands for a class that cannot store itself (its archive refuses): a
// record naming the class with its ccPersistent level alone, so that its
// loader is reached all the same.
class Named : public virtual ccPersistent {
public:
    explicit Named(std::string name) : name_(std::move(name)) {}
    const char* storedTypeName() const override { return name_.c_str(); }

private:
    std::string name_;
};

// Values of the aggregate's own kinds, each in range on both boards.
void applySettings(ccAcqProps& props)
{
    props.cameraBandwidth(0.25);
    props.exposure(0.01);
    props.strobeEnable(true);
    props.strobePulseDuration(5e-6);
    props.strobeDelay(0.001);
    props.settlingTime(0.5);
    props.timeout(2.0);
}

std::unique_ptr<ccAcqProps> aggregate(bool analog, bool settings)
{
    std::unique_ptr<ccAcqProps> props(analog ? new ccAnalogAcqProps : new ccAcqProps);
    if (settings)
        applySettings(*props);
    return props;
}

// One object through a pointer, as operation 16 reads it.
std::string pointer(ccPersistent& object)
{
    return archived(0x00, [&](ccArchive& ar) {
        unsigned char op = 16;
        ar.archive(op);
        ccPersistent* unused = nullptr;
        archivePointer(ar, &object, unused);
    });
}

// A pel root of 3 x 2 pels, each byte 0x5A: its pels are stored one by one.
template <class T>
bool shapedRoot(const std::string& dir, const std::string& name)
{
    const ccPtrHandle<ccPelRoot<T>> root(new ccPelRoot<T>(3, 2, 4));
    for (int32_t y = 0; y < 2; ++y)
        std::memset(root->dataStart() + y * root->stride(), 0x5A, 3 * sizeof(T));
    return write(dir, "shaped-" + name, pointer(*root));
}

int archiveSeeds(const std::string& dir)
{
    int failed = 0;
    for (const auto& [name, factory] : ccRegisteredPersistentTypes()) {
        const std::unique_ptr<ccPersistent> object(factory());
        std::string bytes;
        try {
            if (object)
                bytes = pointer(*object);
        } catch (const ccException&) {
            Named named(name);
            bytes = pointer(named);
        }
        if (!object || !write(dir, "type-" + fileName(name), bytes)) {
            std::cerr << name << ": not made or not written\n";
            failed = 1;
        }
    }
    for (const bool analog : {false, true}) {
        const std::unique_ptr<ccAcqProps> props = aggregate(analog, true);
        failed |= !write(dir, analog ? "settings-analog" : "settings", pointer(*props));
    }
    const bool shaped = shapedRoot<unsigned char>(dir, "uint8") && shapedRoot<unsigned short>(dir, "uint16")
                        && shapedRoot<short>(dir, "int16") && shapedRoot<uint32_t>(dir, "uint32")
                        && shapedRoot<int32_t>(dir, "int32") && shapedRoot<double>(dir, "double")
                        && shapedRoot<ccPackedRGB16Pel>(dir, "rgb16") && shapedRoot<ccPackedRGB32Pel>(dir, "rgb32");
    return failed | !shaped;
}

int aggregateSeeds(const std::string& dir)
{
    int failed = 0;
    for (unsigned board = 0; board < 2; ++board)
        for (const bool analog : {false, true})
            for (const bool settings : {false, true}) {
                const std::unique_ptr<ccAcqProps> props = aggregate(analog, settings);
                const unsigned char control = static_cast<unsigned char>(board << 2 | (analog ? 1 : 0));
                const std::string bytes = archived(control, [&](ccArchive& ar) { ccArchiveObject(*props, ar, false); });
                const std::string name = std::string(settings ? "settings" : "defaults") + (analog ? "-analog" : "")
                                         + "-board" + std::to_string(board);
                failed |= !write(dir, name, bytes);
            }
    return failed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: seeds archive|acqprops <dir>\n";
        return 2;
    }
    registerLibraryTypes();
    const std::string target = argv[1];
    if (target == "archive")
        return archiveSeeds(argv[2]);
    if (target == "acqprops")
        return aggregateSeeds(argv[2]);
    std::cerr << "no seeds for " << target << "\n";
    return 2;
}
