// The channel wired to the core: the wire trace goes to whichever face the core has now.
#include <gtest/gtest.h>

#include <memory>

#include "core/isp_core.h"
#include "link/wire_format.h"
#include "ops/link_binding.h"
#include "unit/link/fake_port.h"

namespace qmx {
namespace {

struct CountingUi : Ui {
    std::size_t sent = 0;
    void traceBytes(bool outgoing, const unsigned char*, std::size_t count) override {
        if (outgoing) sent += count;
    }
};

TEST(LinkBinding, TraceFollowsTheFaceTheCoreHasNow) {
    IspCore core;
    core.channel.setPort(std::make_unique<test::FakePort>());
    core.portPath = "/dev/fake";
    CountingUi first;
    core.setUi(&first);
    bind_channel(core);
    ASSERT_EQ(core.channel.open_port(), 0);
    const auto frame = wire::statusRequest().bytes;
    {
        // A face that lives on the stack for a while, as the command line installs one.
        CountingUi passing;
        core.setUi(&passing);
        core.channel.write_bytes(frame);
        EXPECT_EQ(passing.sent, frame.size());
        core.setUi(&first);
    }
    core.channel.write_bytes(frame);  // after the passing face is gone
    EXPECT_EQ(first.sent, frame.size());
}

}  // namespace
}  // namespace qmx
