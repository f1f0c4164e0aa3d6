// Acquires frames through the module's COM objects alone and writes each as
// a PGM file: the frame-grabber collection made by its ProgID, its first
// board, a FIFO for a built-in video format on camera port 0, and images
// completed from it.
//
//   acquire_com [count [directory]]
//
// The board driver module is found as for acquire_frames.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "grabber/itf_board.h"
#include "grabber/itf_fifo.h"
#include "grabber/itf_props_a.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/com/image.h"
#include "platform/text.h"

namespace {

using plat::com::Ref;

bool failed(HRESULT hr, const char* what)
{
    if (SUCCEEDED(hr)) return false;
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, unsigned(hr));
    return true;
}

bool writePgm(const std::string& path, IQorImage* image)
{
    LONG width = 0, height = 0;
    if (failed(image->get_Width(&width), "Width") || failed(image->get_Height(&height), "Height")) return false;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << width << ' ' << height << "\n255\n";
    out.write(reinterpret_cast<const char*>(image->pelData()), std::streamsize(width) * height);
    return static_cast<bool>(out);
}

int run(int count, const std::string& directory)
{
    CLSID clsid = GUID_NULL;
    Ref<IQorFrameGrabber7320s> boards;
    if (failed(CLSIDFromProgID(u"Qoralt.QorFrameGrabber7320s", &clsid), "CLSIDFromProgID")
        || failed(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IQorFrameGrabber7320s, boards.out()),
                  "CoCreateInstance"))
        return 1;
    LONG boardCount = 0;
    if (failed(boards->get_Count(&boardCount), "Count")) return 1;
    if (boardCount == 0) {
        std::cerr << "no 7320 board: is qornv7320_.so on QORALT_SYSTEM_PATH?\n";
        return 1;
    }
    VARIANT first;
    VariantInit(&first);
    first.vt = VT_I4;
    first.lVal = 0;
    Ref<IQorFrameGrabber7320> board;
    if (failed(boards->get_Item(first, reinterpret_cast<IQorFrameGrabber7320**>(board.out())), "Item")) return 1;
    BSTR name = nullptr;
    if (failed(board->get_Name(&name), "Name")) return 1;
    std::cout << "board: " << plat::utf8FromWide(plat::wideFromUtf16(name, SysStringLen(name))) << "\n";
    SysFreeString(name);

    BSTR format = SysAllocString(u"Sony XC75 640x480");
    Ref<IDispatch> made;
    const HRESULT created = board->CreateAcqFifo(format, 0, reinterpret_cast<IDispatch**>(made.out()));
    SysFreeString(format);
    Ref<IQorAcqFifo7320> fifo;
    Ref<IQorAcqTrigger> trigger;
    if (failed(created, "CreateAcqFifo") || failed(made->QueryInterface(IID_IQorAcqFifo7320, fifo.out()), "IQorAcqFifo7320")
        || failed(made->QueryInterface(IID_IQorAcqTrigger, trigger.out()), "IQorAcqTrigger"))
        return 1;
    // Manual: each Start acquires one frame.
    if (failed(trigger->put_TriggerModel(0), "TriggerModel")) return 1;

    for (int i = 0; i < count; ++i) {
        LONG ticket = 0, triggerNumber = 0;
        Ref<IQorImage> image;
        if (failed(fifo->Start(&ticket), "Start")
            || failed(fifo->Complete(ticket, &triggerNumber, reinterpret_cast<IQorImage**>(image.out())), "Complete"))
            return 1;
        char file[32];
        std::snprintf(file, sizeof file, "/com_frame_%04d.pgm", i);
        if (!writePgm(directory + file, image.p)) {
            std::cerr << "cannot write " << directory << file << "\n";
            return 1;
        }
    }
    std::cout << count << " frames written\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string directory = argc > 2 ? argv[2] : ".";
    if (count <= 0) {
        std::cerr << "usage: acquire_com [count [directory]]\n";
        return 2;
    }
    if (failed(CoInitializeEx(nullptr, COINIT_MULTITHREADED), "CoInitializeEx")) return 1;
    const int result = run(count, directory);
    CoUninitialize();
    return result;
}
