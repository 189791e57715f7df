// velmora scan, interfaces and the identity check against `velmora sim` on the kernel's vcan.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "support/Child.h"
#include "support/Kernel.h"
#include "velmora/Scan.h"

using namespace velmora;
using namespace velmora::integration;

namespace {

constexpr char kInterface[] = "vcan0";

std::string outputOf(const std::vector<std::string>& argv, int& status) {
    Child child(argv);
    std::string text;
    while (auto line = child.nextLine(60000ms))
        text += *line + "\n";
    status = child.wait(60000ms).value_or(-1);
    return text;
}

/// `velmora sim` of one model and side on vcan0, ready to answer.
class Sim {
  public:
    Sim(const char* model, const char* side)
        : child_(
              {VELMORA_COMMAND, "sim", "--model", model, "--side", side, "--channel", kInterface}) {
        ready_ = child_
                     .waitForLine([](const std::string& l) { return l.find("simulated") == 0; },
                                  kStartDeadline)
                     .has_value();
    }
    ~Sim() { child_.stop(); }
    bool ready() const { return ready_; }

  private:
    Child child_;
    bool ready_ = false;
};

}  // namespace

TEST(ScanOnVcan, FindsALeftTwentyJointAndARightTenJointHand) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    Sim left("ravel", "left"), right("tovin", "right");
    ASSERT_TRUE(left.ready() && right.ready());
    int status = -1;
    const std::string out =
        outputOf({VELMORA_COMMAND, "scan", "--channel", kInterface, "--timeout", "5000"}, status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("vcan0 +0x27 +right +tovin +10 +1\\.5"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("vcan0 +0x28 +left +ravel +20 +1\\.5"))) << out;
}

TEST(ScanOnVcan, InterfacesShowsTheOneUpAndTheOtherDown) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    VELMORA_SKIP_IF(needDown("vcan1"));
    int status = -1;
    const std::string out = outputOf({VELMORA_COMMAND, "interfaces"}, status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\nvcan0 +up "))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\nvcan1 +down "))) << out;
}

TEST(ScanOnVcan, MoveWithTheWrongModelExitsOneAndSendsNoCommand) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    VELMORA_SKIP_IF(needPrograms({"candump"}));
    Sim hand("tovin", "right");
    ASSERT_TRUE(hand.ready());
    Candump candump(kInterface);
    int status = -1;
    const std::string out = outputOf({VELMORA_COMMAND, "move", "--model", "zenit", "--channel",
                                      kInterface, "close", "--timeout", "5000"},
                                     status);
    EXPECT_EQ(status, 1) << out;
    const std::vector<WireFrame> frames = candump.finish();
    ASSERT_FALSE(frames.empty()) << "the version requests and their answers";
    const std::vector<std::uint8_t> codes = versionRequests();
    for (const WireFrame& frame : frames) {
        EXPECT_EQ(frame.id, 0x27u) << toText(frame);
        ASSERT_FALSE(frame.data.empty()) << toText(frame);
        EXPECT_NE(std::find(codes.begin(), codes.end(), frame.data[0]), codes.end())
            << "not a version request or its answer: " << toText(frames);
    }
}
