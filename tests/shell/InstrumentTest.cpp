// The wired data path on the simulated sensor: an earthquake received through
// the COM link is recorded, published in the shared block and announced by
// alert sounds, and a stop leaves a closed recording.
#include "shell/Instrument.h"

#include "output/OutputFolders.h"
#include "support/Files.h"
#include "support/Reception.h"
#include "support/TemporaryFolder.h"
#include "support/Waiting.h"
#include <kelvora/publication_block.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr int kComNumber = 188;

class RecordingPlayer : public SoundPlayer {
public:
    bool play(const std::string& path) override {
        std::lock_guard lock(mutex_);
        played_.push_back(path);
        return true;
    }
    std::vector<std::string> played() const {
        std::lock_guard lock(mutex_);
        return played_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> played_;
};

// The waits here are for seconds of the quake: a coarse poll will do.
template <typename Condition> bool waitFor(Condition condition) {
    return kelvora::test::waitFor(condition, kReceptionGuard, 10ms);
}

class InstrumentOnSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(createOutputFolders(root_));
        ASSERT_TRUE(simulator_.start({"--seed", "3", "--quake", "4.0@2:6"}));

        recorderSettings_.recordMinSeconds = 10;
        instrument_ = std::make_unique<Instrument>(
            pipelineSettings_, recorderSettings_, player_, view_, root_,
            InstrumentOptions{blockName_, 200ms, ReceptionTimings{10ms, 2}});
        ASSERT_TRUE(instrument_->createPublicationBlock());
    }

    void TearDown() override { instrument_.reset(); }

    std::vector<fs::path> recordings() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(accelerogramFolder(root_))) {
            files.push_back(entry.path());
        }
        return files;
    }

    TemporaryFolder temporary_{"kelvora-instrument"};
    const std::string root_ = temporary_.string();
    std::string blockName_ = "/kelvora-instrument-test-" + std::to_string(::getpid());
    // Its link in the test's folder, which the instrument's port map reads.
    SimulatorOnCom simulator_{KELVORA_SIM_PATH, kComNumber, temporary_.path()};
    PipelineSettings pipelineSettings_;
    RecorderSettings recorderSettings_;
    std::shared_ptr<RecordingPlayer> player_ = std::make_shared<RecordingPlayer>();
    RecordingView view_;
    std::unique_ptr<Instrument> instrument_;
};

TEST_F(InstrumentOnSimulator, AnEarthquakeIsRecordedPublishedAndAnnounced) {
    ReceptionControl& reception = instrument_->reception();
    reception.StartReceive(kComNumber - 1);
    ASSERT_EQ(reception.runState(), ReceptionControl::Running) << view_.failureText();

    // The quake starts 2 s into the stream and reaches intensity 4.0.
    ASSERT_TRUE(waitFor([&] { return instrument_->recorder().isRecording(); }));
    ASSERT_TRUE(waitFor([&] { return instrument_->alerts().intensityClass >= 4; }));
    // Class 4 held for two display ticks plays its alert.
    ASSERT_TRUE(waitFor([&] {
        const auto played = player_->played();
        return std::find(played.begin(), played.end(), "./Sounds/SiAlert/04.wav") != played.end();
    }));

    // Another program's view of the block while frames stream in: every
    // section is published in turn, the environment once a second.
    const int fd = ::shm_open(blockName_.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    void* mapped = ::mmap(nullptr, KELVORA_SHM_SIZE, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto* block = static_cast<const volatile std::uint8_t*>(mapped);
    for (const std::size_t updated :
         {KELVORA_SHM_ACCEL_UPDATED, KELVORA_SHM_JMA_UPDATED, KELVORA_SHM_ENV_UPDATED}) {
        EXPECT_TRUE(waitFor([&] { return block[updated] == KELVORA_SHM_UPDATED; })) << updated;
    }
    double temperature = 0.0;
    std::memcpy(&temperature, const_cast<const std::uint8_t*>(block) + KELVORA_SHM_TEMPERATURE,
                sizeof temperature);
    EXPECT_GT(temperature, 10.0);
    EXPECT_LT(temperature, 35.0);
    ::munmap(mapped, KELVORA_SHM_SIZE);

    ASSERT_TRUE(stopAndComplete(reception));
    EXPECT_FALSE(instrument_->recorder().isRecording()) << "the stop closes the recording";

    const auto files = recordings();
    ASSERT_EQ(files.size(), 1u);
    const std::string text = readAll(files[0]);
    std::size_t rows = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2)) {
        ++rows;
    }
    EXPECT_GE(rows, 1001u + 2u) << "header, empty line, 1000 history rows and the trigger's";
    EXPECT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);

    EXPECT_TRUE(view_.failures().empty()) << view_.failureText();
}

TEST_F(InstrumentOnSimulator, AStoredPortIndexThatNamesNoPortFailsToOpen) {
    ReceptionControl& reception = instrument_->reception();
    for (const int portIndex : {-1, -2147483647 - 1, 2147483647, 2147483646, 99999}) {
        view_.clear();
        reception.StartReceive(portIndex);
        EXPECT_EQ(view_.failures(), std::vector<StartFailure>{StartFailure::CannotOpen})
            << portIndex;
        EXPECT_EQ(reception.runState(), ReceptionControl::Idle) << portIndex;
    }
}

TEST_F(InstrumentOnSimulator, ShutdownWhileReceivingLeavesNothingOpen) {
    ReceptionControl& reception = instrument_->reception();
    reception.StartReceive(kComNumber - 1);
    ASSERT_TRUE(waitFor([&] { return instrument_->recorder().isRecording(); }));
    instrument_->shutdown();
    EXPECT_EQ(reception.runState(), ReceptionControl::Idle);
    EXPECT_FALSE(instrument_->recorder().isRecording());
    EXPECT_LT(::shm_open(blockName_.c_str(), O_RDONLY, 0), 0) << "the block is removed";
}

} // namespace
} // namespace kelvora::test
