// A block left behind by an instance killed with SIGKILL: the next start takes
// it over and publishes into it, and readers see its live values, also a
// reader that kept the block mapped across the kill.
#include "../core/FrameFixtures.h"
#include "SharedBlockReader.h"
#include "output/PublicationBlock.h"
#include "support/ChildProcess.h"
#include "support/Waiting.h"

#include <kelvora/publication_block.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

// Frame n's values tell which frame they came from and are exact as floats.
FrameValues frameNumbered(int n) {
    FrameValues v;
    v.accelX = static_cast<float>(n) * 0.5f;
    v.accelY = -static_cast<float>(n);
    v.accelZ = 1000.0f + static_cast<float>(n);
    v.seaLevelPressure = 900.0f + static_cast<float>(n) * 0.125f;
    return v;
}

// Runs `count` frames from `first` on through a fresh run of the rig.
void publishFrames(PipelineRig& rig, int first, int count) {
    rig.pipeline.startReception();
    for (int n = first; n < first + count; ++n) {
        runFrame(rig, frameNumbered(n));
    }
}

class StaleBlock : public ::testing::Test {
protected:
    void TearDown() override { ::shm_unlink(name.c_str()); }
    std::string name = uniqueBlockName("stale");
};

TEST_F(StaleBlock, TheNextStartTakesOverABlockAKilledInstanceLeftAndPublishesLiveValues) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = forkChild([&]() -> int {
        // The instance that is killed: it made the block and published into it.
        ::close(ready[0]);
        PipelineRig rig;
        PublicationBlock block(name);
        if (!block.create()) {
            return 1;
        }
        rig.pipeline.setPublication(&block);
        publishFrames(rig, 100, 105);
        [[maybe_unused]] const auto told = ::write(ready[1], "x", 1);
        for (;;) {
            ::pause();
        }
    });
    ASSERT_GT(pid, 0);
    ::close(ready[1]);
    char signal = 0;
    const bool published = ::read(ready[0], &signal, 1) == 1;
    ::close(ready[0]);
    ::kill(pid, SIGKILL);
    const int status = waitForChild(pid);
    ASSERT_TRUE(published) << "the first instance could not publish";
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_TRUE(blockExists(name)) << "SIGKILL leaves the name behind";

    // A reader that watched the killed instance still sees its last values.
    SharedBlockReader watcher(name);
    ASSERT_TRUE(watcher.isOpen());
    EXPECT_EQ(watcher.real(KELVORA_SHM_SEA_LEVEL_PRESSURE), frameNumbered(202).seaLevelPressure);

    PipelineRig rig;
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    for (std::size_t i = 0; i < SharedBlockReader::kSize; ++i) {
        ASSERT_EQ(watcher.byte(i), 0) << "offset " << i << ": the old values are cleared";
    }
    rig.pipeline.setPublication(&block);
    publishFrames(rig, 500, 105);

    SharedBlockReader newcomer(name);
    ASSERT_TRUE(newcomer.isOpen());
    for (const SharedBlockReader* reader : {&watcher, &newcomer}) {
        EXPECT_EQ(reader->byte(KELVORA_SHM_ACCEL_UPDATED), 0xFF);
        for (std::size_t i = 0; i < 5; ++i) {
            const FrameValues v = frameNumbered(600 + static_cast<int>(i));
            EXPECT_EQ(reader->sample(KELVORA_SHM_ACCEL_X, i), v.accelX) << "element " << i;
            EXPECT_EQ(reader->sample(KELVORA_SHM_ACCEL_Z, i), v.accelZ) << "element " << i;
        }
        EXPECT_EQ(reader->byte(KELVORA_SHM_ENV_UPDATED), 0xFF);
        EXPECT_EQ(reader->real(KELVORA_SHM_SEA_LEVEL_PRESSURE),
                  frameNumbered(602).seaLevelPressure);
    }

    // Not made by this instance, the block outlives it as it outlived the
    // killed one.
    block.destroy();
    EXPECT_TRUE(blockExists(name));
}

} // namespace
} // namespace kelvora::test
