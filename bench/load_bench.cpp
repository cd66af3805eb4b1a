// How long loading a 64 KB Intel-HEX file into the code buffer takes: the file is generated in
// a temporary folder (4096 records of 16 bytes), then loaded the way the Open File button does
// (read, fill, parse, checks, checksum), several times; the median is printed.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "core/ui.h"
#include "image/code_buffer.h"
#include "image/hex_loader.h"
#include "image/serial_number.h"

int main() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("qmx-load-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "image64k.hex";
    {
        std::ofstream out(file, std::ios::binary);
        char line[64];
        for (unsigned address = 0; address < 0x10000; address += 16) {
            unsigned sum = 16 + (address >> 8) + (address & 0xFF);
            int n = std::snprintf(line, sizeof line, ":10%04X00", address);
            for (unsigned i = 0; i < 16; ++i) {
                const unsigned value = (address * 7 + i * 13) & 0xFF;
                sum += value;
                n += std::snprintf(line + n, sizeof line - n, "%02X", value);
            }
            std::snprintf(line + n, sizeof line - n, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
            out << line;
        }
        out << ":00000001FF\r\n";
    }

    const qmx::ModelEntry* model = qmx::findModel("M-064");  // a 64 KB program area
    if (!model) {
        std::fprintf(stderr, "model M-064 not in the catalogue\n");
        return 1;
    }
    auto buffer = std::make_unique<qmx::CodeBuffer>();
    qmx::SerialNumberSpec serial;
    qmx::Ui ui;
    buffer->fillByte = 0xFF;
    buffer->clearOnLoad = true;
    buffer->currentPath = file.string();

    constexpr int kRuns = 21;
    std::vector<double> ms;
    for (int run = 0; run < kRuns; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        const qmx::LoadResult r = qmx::loadSelectedFile(*buffer, *model, serial, ui);
        const auto t1 = std::chrono::steady_clock::now();
        if (!r.loaded() || r.badRecords != 0 || buffer->loadEnd != 0xFFFF) {
            std::fprintf(stderr, "load failed\n");
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("load_bench: 64 KB Intel-HEX file (%ju bytes, 4097 records) into the code buffer\n",
                static_cast<std::uintmax_t>(fs::file_size(file)));
    std::printf("  median %.3f ms, min %.3f ms, max %.3f ms over %d runs (target < 20 ms)\n",
                ms[ms.size() / 2], ms.front(), ms.back(), kRuns);
    fs::remove_all(dir);
    return 0;
}
