// Acquires frames from the first 7320 board and writes each as a PGM file.
//
//   acquire_frames [count [directory]]
//
// The board driver module is found along the search path (QORALT_SYSTEM_PATH,
// then QORALT_PATH) as "qornv7320_.so". The frames-per-second figure counts
// the acquisitions alone, not the writing of the files.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "acq/acqfifo.h"
#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "modules/unknownfg.h"
#include "platform/text.h"
#include "std/except/except.h"
#include "std/pelbuf/pelbuf.h"

namespace {

bool writePgm(const std::string& path, const ccPelBuffer<unsigned char>& frame)
{
    const ccPelRect window = frame.window();
    const int32_t width = static_cast<int32_t>(window.width());
    const int32_t height = static_cast<int32_t>(window.height());
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << width << ' ' << height << "\n255\n";
    for (int32_t y = 0; y < height; ++y)
        out.write(reinterpret_cast<const char*>(frame.row(static_cast<int32_t>(window.y0()) + y)), width);
    return static_cast<bool>(out);
}

int run(int count, const std::string& directory)
{
    if (cc7320::numBoards() == 0) {
        std::cerr << "no 7320 board: is qornv7320_.so on QORALT_SYSTEM_PATH?\n";
        return 1;
    }
    cc7320& board = cc7320::getBoard(0);
    std::cout << "board: " << plat::utf8FromWide(board.name()) << "\n";
    ccStdGreyAcqFifo fifo(ccVidFmtSonyXC75_640x480(), board);

    double acquiring = 0.0;
    for (int i = 0; i < count; ++i) {
        const auto started = std::chrono::steady_clock::now();
        fifo.start(static_cast<uint32_t>(i));
        ccAcquireInfo info;
        bool ok = false;
        ccAcqCompleteArgs args;
        args.timeout = 5.0;
        args.info = &info;
        args.outcome = &ok;
        std::unique_ptr<ccPelBuffer<unsigned char>> frame(fifo.completeToBuffer(args));
        acquiring += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!ok || !frame) {
            std::cerr << "acquisition " << i << " failed\n";
            continue;
        }
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%04d.pgm", i);
        if (!writePgm(directory + name, *frame)) {
            std::cerr << "cannot write " << directory << name << "\n";
            return 1;
        }
    }
    std::cout << count << " frames, " << (acquiring > 0.0 ? count / acquiring : 0.0) << " frames per second\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string directory = argc > 2 ? argv[2] : ".";
    if (count <= 0) {
        std::cerr << "usage: acquire_frames [count [directory]]\n";
        return 2;
    }
    try {
        return run(count, directory);
    } catch (const ccException& e) {
        std::wostringstream text;
        text << e;
        std::cerr << "error: " << plat::utf8FromWide(text.str()) << "\n";
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
    }
    return 1;
}
