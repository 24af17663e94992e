// The C reader example of the README (docs/examples/kelvora_shm_read.c), built
// as plain C99 and run as a child process against a block this test publishes
// into: what it prints of a fresh and a live block, that it waits while the
// samples are being copied, the refusals without a usable block, and that the
// README shows the example exactly as it is built.
#include "SharedBlockReader.h"
#include "output/PublicationBlock.h"
#include "support/ChildProcess.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;

const std::string kExample = KELVORA_SHM_READ_EXAMPLE;

constexpr std::size_t kAccelBusy = 0x05;

class ShmReadExample : public ::testing::Test {
protected:
    void TearDown() override { ::shm_unlink(name.c_str()); }

    // Five frames' samples through the block, ending with one copy. Every
    // sample differs from the others and prints exactly with %g, so a reader
    // that takes another element or mixes up the axes shows.
    void publishSamples(double base) {
        for (int i = 0; i < 5; ++i) {
            state.frameIndex = i;
            state.accelX = base + 1.5 + i;
            state.accelY = -(base + 0.25 * (i + 1));
            state.accelZ = 980.0 + base + i;
            block.publishAcceleration(state);
        }
    }
    void publishIntensity(double peak) {
        state.peakJmaIntensity = peak;
        block.publishIntensity(state);
    }

    std::string name = uniqueBlockName("example");
    PublicationBlock block{name};
    MeasurementState state;
};

// One block, read after each step: the zeros of a fresh block, then the code
// and the newest sample of each axis as they are published.
TEST_F(ShmReadExample, PrintsTheCodeAndTheNewestSampleOfEachAxis) {
    struct Step {
        const char* what;
        std::optional<double> samplesBase;
        std::optional<double> peak;
        std::string expected;
    };
    const std::vector<Step> steps = {
        {"fresh block", std::nullopt, std::nullopt,
         "JMA intensity code 0 (-3.0)\nacceleration x 0 y 0 z 0 gal\n"},
        {"first copy and a peak of 4.5", 0.0, 4.5,
         "JMA intensity code 75 (4.5)\nacceleration x 5.5 y -1.25 z 984 gal\n"},
        {"next copy, quiet again", 100.0, -3.0,
         "JMA intensity code 0 (-3.0)\nacceleration x 105.5 y -101.25 z 1084 gal\n"},
        {"a peak past the code's range", std::nullopt, 30.0,
         "JMA intensity code 255 (22.5)\nacceleration x 105.5 y -101.25 z 1084 gal\n"},
    };
    ASSERT_TRUE(block.create());
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.samplesBase) {
            publishSamples(*step.samplesBase);
        }
        if (step.peak) {
            publishIntensity(*step.peak);
        }
        const ToolRun run = runTool({kExample, name}, {}, 10s);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.out, step.expected);
        EXPECT_EQ(run.err, "");
    }
}

// Busy 1 means the samples are half old, half new: the reader must not take
// them then, and takes the new ones once the copy has ended.
TEST_F(ShmReadExample, WaitsWhileTheSamplesAreBeingCopied) {
    ASSERT_TRUE(block.create());
    publishSamples(0.0);
    SharedBlockReader reader(name);
    ASSERT_TRUE(reader.isOpen());
    reader.write(kAccelBusy, 1);

    ChildProcess example({kExample, name});
    EXPECT_EQ(example.readLine(300ms), std::nullopt) << "printed while busy";
    EXPECT_FALSE(example.tryWait().has_value()) << "ended while busy";

    publishSamples(100.0); // ends with busy 0
    const ToolRun run = example.finish(10s);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "JMA intensity code 0 (-3.0)\nacceleration x 105.5 y -101.25 z 1084 gal\n");
    EXPECT_EQ(run.err, "");
}

// No block, or one a reader made that is still shorter than the layout
// (mapping it would end in SIGBUS at the first read): one line, status 1, and
// no block is left behind.
TEST_F(ShmReadExample, WithoutAUsableBlockItSaysSoAndExitsWithOne) {
    struct Case {
        const char* what;
        std::size_t existingSize; // 0: no block at all
    };
    for (const Case& c : {Case{"no block", 0}, Case{"a 16-byte block", 16}}) {
        SCOPED_TRACE(c.what);
        if (c.existingSize > 0) {
            SharedBlockReader early(name, c.existingSize);
            ASSERT_TRUE(early.isOpen());
        }
        const ToolRun run = runTool({kExample, name}, {}, 10s);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "kelvora_shm_read: no block " + name + ": is Kelvora running?\n");
        EXPECT_EQ(blockExists(name), c.existingSize > 0);
        ::shm_unlink(name.c_str());
    }
}

// The README shows the very file this test builds, as one C code block.
TEST_F(ShmReadExample, TheReadmeShowsTheExampleVerbatim) {
    const std::string source = readAll(KELVORA_SHM_READ_EXAMPLE_SOURCE);
    const std::string readme = readAll(KELVORA_README);
    ASSERT_FALSE(source.empty()) << KELVORA_SHM_READ_EXAMPLE_SOURCE;
    ASSERT_FALSE(readme.empty()) << KELVORA_README;
    EXPECT_NE(readme.find("```c\n" + source + "```\n"), std::string::npos)
        << "README.md must show docs/examples/kelvora_shm_read.c verbatim in a ```c block";
}

} // namespace
} // namespace kelvora::test
