// Shared pieces of the image tests: a temporary folder, file writing, a fresh buffer and the
// catalogue models the tests use.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "image/code_buffer.h"
#include "image/serial_number.h"
#include "support/recording_ui.h"

namespace qmx::test {

inline const ModelEntry& model(const char* name) {
    const ModelEntry* m = findModel(name);
    if (!m) throw std::runtime_error(std::string("no model ") + name);
    return *m;
}

class ImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("qmx-image-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" +
               info->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        buffer.reset();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string writeFile(const std::string& name, const std::string& content) {
        std::filesystem::path p = dir / name;
        std::ofstream out(p, std::ios::binary);
        out << content;
        return p.string();
    }
    std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return writeFile(name, std::string(bytes.begin(), bytes.end()));
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir;
    CodeBuffer buffer;
    SerialNumberSpec serial;
    RecordingUi ui;
};

// An Intel-HEX data record (type 00) with a correct checksum, or of another type.
inline std::string hexRecord(unsigned address, const std::vector<std::uint8_t>& data,
                             unsigned type = 0) {
    char buf[8];
    std::string line = ":";
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    auto put = [&](unsigned v) {
        std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
        line += buf;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8);
    put(address);
    put(type);
    for (auto b : data) {
        put(b);
        sum += b;
    }
    put((0x100 - (sum & 0xFF)) & 0xFF);
    return line;
}

inline const std::string kEof = ":00000001FF";

}  // namespace qmx::test
