// A port that does not open tells the window which port, which device and
// why: a start through the real port on each cause, on real nodes.
#include "../core/PipelineRig.h"
#include "PseudoTerminal.h"
#include "link/ReceptionControl.h"
#include "link/SerialPort.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

constexpr int kPortIndex = 4; // COM5

class DetailView : public ReceptionView {
public:
    void showReceiving() override {}
    void showIdle() override {}
    void showStartFailure(StartFailure reason) override { plainFailures.push_back(reason); }
    void showOpenFailure(const PortOpenFailure& failure) override { detail = failure; }

    std::optional<PortOpenFailure> detail;
    std::vector<StartFailure> plainFailures;
};

// What stands at the port's path, kept for the start.
struct Situation {
    std::string device;
    std::vector<std::shared_ptr<void>> keep;
};

struct CauseCase {
    std::string name;
    std::function<Situation(const TemporaryFolder&)> make;
    PortOpenCause cause;
    bool permissions = false; // only an ordinary user is refused by a mode
};

void PrintTo(const CauseCase& c, std::ostream* out) {
    *out << c.name;
}

std::shared_ptr<void> keepPseudoTerminal(std::shared_ptr<PseudoTerminal> line) {
    return line;
}

const CauseCase kCases[] = {
    {"NumberWithoutDevice", [](const TemporaryFolder&) { return Situation{}; },
     PortOpenCause::Unmapped},
    {"MissingNode",
     [](const TemporaryFolder& folder) {
         return Situation{(folder / "ttyUSB0").string(), {}};
     },
     PortOpenCause::NoDevice},
    {"RegularFile",
     [](const TemporaryFolder& folder) {
         const std::string path = (folder / "not-a-line").string();
         std::ofstream(path) << "";
         return Situation{path, {}};
     },
     PortOpenCause::NotSerial},
    {"HeldByAnotherProgram",
     [](const TemporaryFolder&) {
         auto line = std::make_shared<PseudoTerminal>();
         // Another monitor (or any program that locks the port) has it open.
         auto other = std::make_shared<SerialPort>(100ms);
         if (!other->open(line->slavePath())) {
             throw std::runtime_error("the other program cannot open the port");
         }
         return Situation{line->slavePath(), {other, keepPseudoTerminal(line)}};
     },
     PortOpenCause::Held},
    {"NoPermission",
     [](const TemporaryFolder&) {
         auto line = std::make_shared<PseudoTerminal>();
         ::chmod(line->slavePath().c_str(), 0);
         return Situation{line->slavePath(), {keepPseudoTerminal(line)}};
     },
     PortOpenCause::PermissionDenied, true},
};

class PortOpenFailureCause : public ::testing::TestWithParam<CauseCase> {};

TEST_P(PortOpenFailureCause, NamesThePortItsDeviceAndTheCause) {
    if (GetParam().permissions && ::geteuid() == 0) {
        GTEST_SKIP() << "root opens any mode; the ordinary-user run covers it";
    }
    TemporaryFolder folder("kelvora-port-open");
    const Situation situation = GetParam().make(folder);
    PipelineRig rig;
    SerialPort port{100ms};
    DetailView view;
    ReceptionControl control{rig.pipeline, port, view, [&](int) { return situation.device; },
                             ReceptionTimings{0ms, 0}};

    control.StartReceive(kPortIndex);

    ASSERT_TRUE(view.detail.has_value()) << "the detail reaches the window";
    EXPECT_TRUE(view.plainFailures.empty());
    EXPECT_EQ(view.detail->comNumber, kPortIndex + 1);
    EXPECT_EQ(view.detail->device, situation.device);
    EXPECT_EQ(view.detail->cause, GetParam().cause) << "errno " << view.detail->error;
    EXPECT_EQ(control.runState(), ReceptionControl::Idle);
    EXPECT_FALSE(port.isOpen());
}

INSTANTIATE_TEST_SUITE_P(EachCause, PortOpenFailureCause, ::testing::ValuesIn(kCases), CaseName{});

// The diagnosis leaves nothing behind: the port it looked at opens at once
// once its holder lets go.
TEST(PortOpenDiagnosis, HoldsNothingAfterwards) {
    PseudoTerminal line;
    {
        SerialPort other{100ms};
        ASSERT_TRUE(other.open(line.slavePath()));
        EXPECT_EQ(diagnosePortOpen(3, line.slavePath()).cause, PortOpenCause::Held);
    }
    SerialPort port{100ms};
    EXPECT_TRUE(port.open(line.slavePath()));
}

} // namespace
} // namespace kelvora::test
