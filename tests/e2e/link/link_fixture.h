// Shared pieces of the link's end-to-end tests: a simulated chip on a pseudo-terminal and the
// command line run against it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace qmx::test {

class LinkE2E : public ::testing::Test {
  protected:
    // Starts the simulator with the model and extra arguments; fails the test when it cannot.
    void startSim(const std::string& model, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--model", model, "--log", dir.file("sim.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim.start(chipsimPath(), args)) << sim.error();
    }
    RunResult isp(std::vector<std::string> args, std::chrono::milliseconds timeout = 60s) {
        args.push_back("--port");
        args.push_back(sim.linkPath());
        return run_cli(args, timeout);
    }
    std::string simLog() const {
        std::ifstream f(dir.file("sim.log"));
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    static bool contains(const std::string& text, const std::string& needle) {
        return text.find(needle) != std::string::npos;
    }

    TempDir dir;
    SimProcess sim;
};

}  // namespace qmx::test
