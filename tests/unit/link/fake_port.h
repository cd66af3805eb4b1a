// A scripted serial port for the channel's tests: records every write, hands out queued
// input, and can be told to fail like an unplugged adapter.
#pragma once

#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

#include "link/serial_port.h"

namespace qmx::test {

class FakePort : public SerialPort {
  public:
    std::vector<std::uint8_t> written;
    std::deque<std::uint8_t> input;
    std::vector<std::string> settingsApplied;
    int openError = 0;  // errno the next open returns
    int failWith = 0;   // errno every read/write/wait returns once set
    bool open_ = false;
    int discards = 0;

    int open(const std::string&, const PortSettings& s) override {
        if (openError) return openError;
        open_ = true;
        settingsApplied.push_back(s.text());
        return 0;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool apply(const PortSettings& s) override {
        settingsApplied.push_back(s.text());
        return true;
    }
    long write(const std::uint8_t* data, std::size_t count) override {
        if (failWith) return -failWith;
        written.insert(written.end(), data, data + count);
        return static_cast<long>(count);
    }
    long read(std::uint8_t* data, std::size_t capacity) override {
        if (failWith) return -failWith;
        std::size_t n = 0;
        while (n < capacity && !input.empty()) {
            data[n++] = input.front();
            input.pop_front();
        }
        return static_cast<long>(n);
    }
    int waitReadable(long) override {
        if (failWith) return -failWith;
        return input.empty() ? 0 : 1;
    }
    int waitWritable(long) override { return failWith ? -failWith : 1; }
    int outQueue() override { return 0; }
    int inQueue() override { return static_cast<int>(input.size()); }
    void discard(bool in, bool) override {
        ++discards;
        if (in) input.clear();
    }
};

}  // namespace qmx::test
