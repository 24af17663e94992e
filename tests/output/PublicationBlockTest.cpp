// The shared-memory publication block on a real POSIX block with a name of its
// own per test, driven by the frame pipeline: the zeroed block, the
// acceleration copies every fifth frame, the intensity code at display ticks,
// the environment once a second, the order of the stores within one frame, a
// block a reader created first, and no block at all.
#include "output/PublicationBlock.h"
#include "../core/FrameFixtures.h"
#include "SharedBlockReader.h"

#include <kelvora/publication_block.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

// The layout as other programs read it, written out here so that a slip in the
// shared header shows up as well.
constexpr std::size_t kJmaBusy = 0x00;
constexpr std::size_t kJmaUpdated = 0x01;
constexpr std::size_t kJmaPeakCode = 0x02;
constexpr std::size_t kAccelBusy = 0x05;
constexpr std::size_t kAccelUpdated = 0x06;
constexpr std::size_t kAccelX = 0x10;
constexpr std::size_t kAccelY = 0x40;
constexpr std::size_t kAccelZ = 0x70;
constexpr std::size_t kEnvBusy = 0xC0;
constexpr std::size_t kEnvUpdated = 0xC1;
constexpr std::size_t kTemperature = 0xD0;
constexpr std::size_t kHumidity = 0xD8;
constexpr std::size_t kPressure = 0xE0;
constexpr std::size_t kSeaLevelPressure = 0xE8;

static_assert(KELVORA_SHM_SIZE == 256 && KELVORA_SHM_JMA_BUSY == kJmaBusy &&
              KELVORA_SHM_JMA_UPDATED == kJmaUpdated && KELVORA_SHM_JMA_PEAK_CODE == kJmaPeakCode &&
              KELVORA_SHM_ACCEL_BUSY == kAccelBusy && KELVORA_SHM_ACCEL_UPDATED == kAccelUpdated &&
              KELVORA_SHM_ACCEL_X == kAccelX && KELVORA_SHM_ACCEL_Y == kAccelY &&
              KELVORA_SHM_ACCEL_Z == kAccelZ && KELVORA_SHM_ENV_BUSY == kEnvBusy &&
              KELVORA_SHM_ENV_UPDATED == kEnvUpdated && KELVORA_SHM_TEMPERATURE == kTemperature &&
              KELVORA_SHM_HUMIDITY == kHumidity && KELVORA_SHM_PRESSURE == kPressure &&
              KELVORA_SHM_SEA_LEVEL_PRESSURE == kSeaLevelPressure);

// Bytes no field uses; they must stay 0.
bool isReserved(std::size_t offset) {
    return (offset >= 0x03 && offset <= 0x04) || (offset >= 0x07 && offset <= 0x0F) ||
           (offset >= 0xA0 && offset <= 0xBF) || (offset >= 0xC2 && offset <= 0xCF) ||
           offset >= 0xF0;
}

// Frame n of a test stream: every value tells which frame it came from, and
// every value is exact as a float.
FrameValues numberedFrame(int n) {
    FrameValues v;
    v.accelX = static_cast<float>(n) * 0.5f - 100.0f;
    v.accelY = -static_cast<float>(n) * 0.25f;
    v.accelZ = 1000.0f + static_cast<float>(n);
    v.temperature = 10.0f + static_cast<float>(n) * 0.5f;
    v.humidity = static_cast<float>(n);
    v.pressure = 1000.0f + static_cast<float>(n) * 0.25f;
    v.seaLevelPressure = 1010.0f + static_cast<float>(n) * 0.125f;
    return v;
}

class PublicationBlockTest : public ::testing::Test {
protected:
    void TearDown() override { ::shm_unlink(name.c_str()); }

    void attach(PublicationHook& block) { rig.pipeline.setPublication(&block); }
    void frame(int n) { runFrame(rig, numberedFrame(n)); }

    // The five samples of each axis hold frames first .. first+4; element 5 is 0.0.
    void expectSamplesOfFrames(const SharedBlockReader& reader, int first) {
        for (std::size_t i = 0; i < 5; ++i) {
            const FrameValues v = numberedFrame(first + static_cast<int>(i));
            EXPECT_EQ(reader.sample(kAccelX, i), v.accelX) << "element " << i;
            EXPECT_EQ(reader.sample(kAccelY, i), v.accelY) << "element " << i;
            EXPECT_EQ(reader.sample(kAccelZ, i), v.accelZ) << "element " << i;
        }
        for (std::size_t axis : {kAccelX, kAccelY, kAccelZ}) {
            const double element5 = reader.sample(axis, 5);
            EXPECT_EQ(std::memcmp(&element5, "\0\0\0\0\0\0\0\0", 8), 0) << "+0.0 at " << axis;
        }
    }

    std::string name = uniqueBlockName("block");
    PipelineRig rig;
};

// --- Creation ---------------------------------------------------------------------

TEST_F(PublicationBlockTest, CreateGivesTwoHundredFiftySixZeroBytesBeforeAnyFrame) {
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    EXPECT_TRUE(block.isOpen());

    struct stat info {};
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fstat(fd, &info), 0);
    ::close(fd);
    EXPECT_EQ(info.st_size, 256);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "only the user's own programs";

    SharedBlockReader reader(name);
    ASSERT_TRUE(reader.isOpen());
    const auto bytes = reader.bytes();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i], 0) << "offset " << i;
    }
}

// A reader that starts first creates the block; the monitor opens that very
// block (the reader's mapping sees the zero fill and the publications).
TEST_F(PublicationBlockTest, ABlockAReaderCreatedFirstIsZeroedAndPublishedInto) {
    SharedBlockReader reader(name, 256);
    ASSERT_TRUE(reader.isOpen());
    reader.fill(0xAA);

    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(reader.byte(i), 0) << "offset " << i;
    }
    attach(block);
    rig.pipeline.startReception();
    for (int n = 0; n < 5; ++n) {
        frame(n);
    }
    EXPECT_EQ(reader.byte(kAccelUpdated), 0xFF);
    expectSamplesOfFrames(reader, 0);
}

// A reader may create the block smaller than the layout; the monitor sizes it.
TEST_F(PublicationBlockTest, ATooSmallBlockFromAReaderIsGrownToTheLayout) {
    { SharedBlockReader early(name, 16); }
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    attach(block);
    rig.pipeline.startReception();
    for (int n = 0; n < 103; ++n) {
        frame(n);
    }
    SharedBlockReader reader(name);
    EXPECT_EQ(reader.byte(kEnvUpdated), 0xFF);
    EXPECT_EQ(reader.real(kSeaLevelPressure), numberedFrame(102).seaLevelPressure);
}

// --- Acceleration -----------------------------------------------------------------

TEST_F(PublicationBlockTest, TheFirstFiveFramesArePublishedTogetherInOrderOfArrival) {
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    attach(block);
    SharedBlockReader reader(name);
    rig.pipeline.startReception();

    for (int n = 0; n < 4; ++n) {
        frame(n);
        for (std::size_t i = kAccelBusy; i < 0xA0; ++i) {
            ASSERT_EQ(reader.byte(i), 0) << "frame " << n << ", offset " << i;
        }
    }
    frame(4);
    EXPECT_EQ(reader.byte(kAccelBusy), 0x00);
    EXPECT_EQ(reader.byte(kAccelUpdated), 0xFF);
    expectSamplesOfFrames(reader, 0);
    const auto bytes = reader.bytes();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (isReserved(i)) {
            EXPECT_EQ(bytes[i], 0) << "reserved offset " << i;
        }
    }

    // The next samples gather privately until their fifth frame.
    reader.write(kAccelUpdated, 0);
    for (int n = 5; n < 9; ++n) {
        frame(n);
        EXPECT_EQ(reader.byte(kAccelUpdated), 0) << "frame " << n;
    }
    expectSamplesOfFrames(reader, 0);
    frame(9);
    EXPECT_EQ(reader.byte(kAccelUpdated), 0xFF);
    expectSamplesOfFrames(reader, 5);
}

// Every fifth frame, across the frameIndex wrap at 1000: each copy holds the
// five frames that ended with it. A new reception run starts its samples
// afresh at frameIndex 0 and keeps the block as it was.
TEST_F(PublicationBlockTest, CopiesStayAlignedAcrossTheFrameIndexWrapAndARestart) {
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    attach(block);
    SharedBlockReader reader(name);
    rig.pipeline.startReception();

    std::vector<int> copies;
    for (int n = 0; n < 1010; ++n) {
        frame(n);
        if (reader.takeUpdate(kAccelUpdated)) {
            copies.push_back(n);
            expectSamplesOfFrames(reader, n - 4);
            ASSERT_FALSE(HasFailure()) << "copy after frame " << n;
        }
    }
    ASSERT_EQ(copies.size(), 202u);
    for (std::size_t k = 0; k < copies.size(); ++k) {
        EXPECT_EQ(copies[k], static_cast<int>(5 * k + 4));
    }

    // Three frames of the next group, then a restart: no copy in between.
    for (int n = 1010; n < 1013; ++n) {
        frame(n);
    }
    rig.pipeline.startReception();
    EXPECT_FALSE(reader.takeUpdate(kAccelUpdated));
    expectSamplesOfFrames(reader, 1005);
    for (int n = 2000; n < 2005; ++n) {
        frame(n);
    }
    EXPECT_TRUE(reader.takeUpdate(kAccelUpdated));
    expectSamplesOfFrames(reader, 2000);
}

// --- Intensity --------------------------------------------------------------------

TEST_F(PublicationBlockTest, PeakCodeIsTenTimesTheIntensityPlusThirtyTruncated) {
    struct Case {
        double peak;
        int code;
    };
    const Case cases[] = {
        {-3.0, 0},
        {0.0, 30},
        {4.5, 75},
        {2.3, 53},
        {7.0, 100},
        {-2.9, 1},
        {0.05, 30}, // truncated, not rounded
        {-2.95, 0},
        {22.4, 254},
        {22.5, 255},
        {22.6, 255}, // beyond the byte: the highest code,
                     // not the low eight bits (0)
        {78.0, 255},
    };
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    SharedBlockReader reader(name);
    MeasurementState state;
    for (const Case& c : cases) {
        SCOPED_TRACE("peakJmaIntensity " + std::to_string(c.peak));
        state.peakJmaIntensity = c.peak;
        block.publishIntensity(state);
        EXPECT_EQ(reader.byte(kJmaBusy), 0x00);
        EXPECT_TRUE(reader.takeUpdate(kJmaUpdated));
        EXPECT_EQ(reader.byte(kJmaPeakCode), c.code);
        EXPECT_EQ(reader.byte(0x03), 0);
        EXPECT_EQ(reader.byte(0x04), 0);
    }
    EXPECT_EQ(publication::jmaPeakCode(-3.0), 0);
}

// At each display tick the code of the JMA peak of the period is published,
// before the peak is reset, whatever scale the display uses.
TEST_F(PublicationBlockTest, IntensityIsPublishedAtEachDisplayTickFromTheJmaPeak) {
    for (int scale : {0, 1}) {
        SCOPED_TRACE("IntensityScale " + std::to_string(scale));
        const std::string blockName = uniqueBlockName("tick");
        PublicationBlock block(blockName);
        ASSERT_TRUE(block.create());
        PipelineRig tickRig;
        tickRig.settings.useSensorSiGal = 1; // siGal 100 gal gives JMA 4.9 once the window fills
        tickRig.settings.intensityScale = scale;
        tickRig.pipeline.setPublication(&block);
        tickRig.pipeline.startReception();
        SharedBlockReader reader(blockName);

        std::vector<int> ticks;
        std::vector<int> codes;
        double periodPeak = kJmaFloor;
        for (int n = 0; n < 110; ++n) {
            runFrame(tickRig, siGalFrame(100.0f));
            if (tickRig.state.jmaIntensity > periodPeak) {
                periodPeak = tickRig.state.jmaIntensity;
            }
            if (reader.takeUpdate(kJmaUpdated)) {
                ticks.push_back(n);
                codes.push_back(reader.byte(kJmaPeakCode));
                EXPECT_EQ(reader.byte(kJmaPeakCode), publication::jmaPeakCode(periodPeak));
                EXPECT_EQ(tickRig.state.peakJmaIntensity.load(), kJmaFloor)
                    << "reset after publishing";
                periodPeak = kJmaFloor;
            }
        }
        EXPECT_EQ(ticks, (std::vector<int>{0, 25, 50, 75, 100}));
        EXPECT_EQ(codes.back(), 79);
    }
}

// --- Environment ------------------------------------------------------------------

TEST_F(PublicationBlockTest, EnvironmentIsPublishedInFramesWhoseIndexEndsInTwoOfAHundred) {
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    attach(block);
    SharedBlockReader reader(name);
    rig.pipeline.startReception();

    std::vector<int> updates;
    for (int n = 0; n < 1250; ++n) {
        frame(n);
        if (reader.takeUpdate(kEnvUpdated)) {
            updates.push_back(n);
            const FrameValues v = numberedFrame(n);
            EXPECT_EQ(reader.byte(kEnvBusy), 0);
            EXPECT_EQ(reader.real(kTemperature), v.temperature) << "frame " << n;
            EXPECT_EQ(reader.real(kHumidity), v.humidity) << "frame " << n;
            EXPECT_EQ(reader.real(kPressure), v.pressure) << "frame " << n;
            EXPECT_EQ(reader.real(kSeaLevelPressure), v.seaLevelPressure) << "frame " << n;
        }
    }
    EXPECT_EQ(updates,
              (std::vector<int>{2, 102, 202, 302, 402, 502, 602, 702, 802, 902, 1002, 1102, 1202}));
}

// --- Store order ------------------------------------------------------------------

// Every store the block receives, in order; they go on to the real block.
struct Store {
    char kind; // 'b' byte, 'r' double, 'p' status pair
    std::size_t offset;
    int value;
};

struct RecordingStores {
    std::vector<Store>* log = nullptr;

    void byte(std::uint8_t* block, std::size_t offset, std::uint8_t value) const {
        publication::AtomicStores{}.byte(block, offset, value);
        log->push_back({'b', offset, value});
    }
    void real(std::uint8_t* block, std::size_t offset, double value) const {
        publication::AtomicStores{}.real(block, offset, value);
        log->push_back({'r', offset, 0});
    }
    template <std::size_t Offset> void statusPair(std::uint8_t* block) const {
        publication::AtomicStores{}.template statusPair<Offset>(block);
        log->push_back({'p', Offset, 0});
    }
};

// The stores made readable; a run of byte stores to ascending sample offsets
// reads "bytes(first..last)".
std::string describe(const std::vector<Store>& log) {
    std::string out;
    char text[32];
    for (std::size_t i = 0; i < log.size(); ++i) {
        const Store& s = log[i];
        if (s.kind == 'b' && s.offset >= 0x10) {
            std::size_t last = i;
            while (last + 1 < log.size() && log[last + 1].kind == 'b' &&
                   log[last + 1].offset == log[last].offset + 1) {
                ++last;
            }
            std::snprintf(text, sizeof text, "bytes(%02zX..%02zX)", s.offset, log[last].offset);
            i = last;
        } else if (s.kind == 'b') {
            std::snprintf(text, sizeof text, "byte(%02zX)=%d", s.offset, s.value);
        } else {
            std::snprintf(text, sizeof text, "%s(%02zX)", s.kind == 'r' ? "real" : "pair",
                          s.offset);
        }
        out += (out.empty() ? "" : " ") + std::string(text);
    }
    return out;
}

// Readers rely on the order: the busy byte before the samples, the samples in
// ascending order, the status pair last; the intensity status before its code;
// the environment values before their status; and within one frame
// acceleration, intensity, environment.
TEST_F(PublicationBlockTest, StoresWithinEachFrameComeInTheOrderReadersRelyOn) {
    struct Case {
        const char* what;
        std::int32_t displayPhase; // at the first frame
        std::vector<std::string> perFrame;
    };
    const Case cases[] = {
        {"acceleration and intensity in one frame",
         21,
         {"", "", "real(D0) real(D8) real(E0) real(E8) pair(C0)", "",
          "byte(05)=1 bytes(10..9F) pair(05) pair(00) byte(02)=0"}},
        {"intensity and environment in one frame",
         23,
         {"", "", "pair(00) byte(02)=0 real(D0) real(D8) real(E0) real(E8) pair(C0)", "",
          "byte(05)=1 bytes(10..9F) pair(05)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Store> log;
        const std::string blockName = uniqueBlockName("order");
        BasicPublicationBlock<RecordingStores> block(blockName, RecordingStores{&log});
        ASSERT_TRUE(block.create());
        PipelineRig orderRig;
        orderRig.state.displayPhase = c.displayPhase;
        orderRig.pipeline.setPublication(&block);
        orderRig.pipeline.startReception();
        for (std::size_t n = 0; n < c.perFrame.size(); ++n) {
            log.clear();
            runFrame(orderRig, numberedFrame(static_cast<int>(n)));
            EXPECT_EQ(describe(log), c.perFrame[n]) << "frame " << n;
        }
        block.destroy();
    }
}

// --- Without a block --------------------------------------------------------------

TEST_F(PublicationBlockTest, WithoutABlockFramesRunAndNothingIsPublished) {
    const std::string names[] = {"/no/such/folder", "", "/", "/" + std::string(300, 'k')};
    for (const std::string& badName : names) {
        SCOPED_TRACE("name '" + badName + "'");
        PublicationBlock block(badName);
        EXPECT_FALSE(block.create());
        EXPECT_FALSE(block.isOpen());
        PipelineRig quietRig;
        quietRig.pipeline.setPublication(&block);
        quietRig.pipeline.startReception();
        for (int n = 0; n < 1005; ++n) {
            runFrame(quietRig, numberedFrame(n));
        }
        EXPECT_EQ(quietRig.state.frameIndex, 5);
        block.destroy();
    }
}

// Removal unmaps and removes the name; a reader's own mapping keeps the last
// values, and later frames publish nothing.
TEST_F(PublicationBlockTest, DestroyRemovesTheNameAndLaterFramesWriteNothing) {
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    attach(block);
    rig.pipeline.startReception();
    for (int n = 0; n < 5; ++n) {
        frame(n);
    }
    SharedBlockReader reader(name);
    ASSERT_TRUE(reader.isOpen());
    reader.write(kAccelUpdated, 0);
    reader.write(kEnvUpdated, 0);

    block.destroy();
    EXPECT_FALSE(block.isOpen());
    EXPECT_FALSE(blockExists(name));
    for (int n = 5; n < 110; ++n) {
        frame(n);
    }
    EXPECT_EQ(reader.byte(kAccelUpdated), 0);
    EXPECT_EQ(reader.byte(kEnvUpdated), 0);
    expectSamplesOfFrames(reader, 0);
    block.destroy(); // a second removal is harmless
}

} // namespace
} // namespace kelvora::test
