// The shared-memory publication block on a real POSIX block with a name of its
// own per test, driven by the frame pipeline: the zeroed block, the
// acceleration copies every fifth frame, the intensity code at display ticks,
// the environment once a second, the order of the stores within one frame, a
// block a reader created first, and no block at all; and what other programs
// may do to the block: cut it short, loosen its mode, own it, or remove and
// make it again.
#include "output/PublicationBlock.h"
#include "../core/FrameFixtures.h"
#include "SharedBlockReader.h"

#include <kelvora/publication_block.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>

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

    // The block under the test's name, created and attached to the pipeline,
    // reception started.
    void startPublishing() {
        block_.emplace(name);
        ASSERT_TRUE(block_->create());
        attach(*block_);
        rig.pipeline.startReception();
    }

    std::string name = uniqueBlockName("block");
    PipelineRig rig;
    std::optional<PublicationBlock> block_; // destroyed before the rig
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
    ASSERT_NO_FATAL_FAILURE(startPublishing());
    for (int n = 0; n < 103; ++n) {
        frame(n);
    }
    SharedBlockReader reader(name);
    EXPECT_EQ(reader.byte(kEnvUpdated), 0xFF);
    EXPECT_EQ(reader.real(kSeaLevelPressure), numberedFrame(102).seaLevelPressure);
}

// --- Acceleration -----------------------------------------------------------------

TEST_F(PublicationBlockTest, TheFirstFiveFramesArePublishedTogetherInOrderOfArrival) {
    ASSERT_NO_FATAL_FAILURE(startPublishing());
    SharedBlockReader reader(name);

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
    ASSERT_NO_FATAL_FAILURE(startPublishing());
    SharedBlockReader reader(name);

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
    ASSERT_NO_FATAL_FAILURE(startPublishing());
    SharedBlockReader reader(name);

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
    ASSERT_NO_FATAL_FAILURE(startPublishing());
    PublicationBlock& block = *block_;
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

// --- What other programs may do to the block ----------------------------------------

// A block name of its own for one case, removed when the case ends however
// it ends.
struct CaseBlockName {
    explicit CaseBlockName(std::string_view tag) : name(uniqueBlockName(tag)) {}
    ~CaseBlockName() { ::shm_unlink(name.c_str()); }
    CaseBlockName(const CaseBlockName&) = delete;
    CaseBlockName& operator=(const CaseBlockName&) = delete;
    const std::string name;
};

// Cuts the block down to `size` bytes through a descriptor of its own, as
// another program (or `truncate -s 0 /dev/shm/...`) would.
bool cutBlock(const std::string& name, off_t size = 0) {
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0) {
        return false;
    }
    const bool cut = ::ftruncate(fd, size) == 0;
    ::close(fd);
    return cut;
}

struct stat blockStat(const std::string& name) {
    struct stat info {};
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    if (fd >= 0) {
        ::fstat(fd, &info);
        ::close(fd);
    }
    return info;
}

// Standard error of a death-test child, compared whole: one line, once.
::testing::Matcher<const std::string&> exactly(const std::string& text) {
    return ::testing::Eq(text);
}

// The product's stores, but the block is cut short right before the store
// numbered `cutAt` (counted from 1 over the whole run): after any check a
// writer could make first.
struct CuttingStores {
    const std::string* name = nullptr;
    int* countdown = nullptr;

    void cutWhenDue() const {
        if (--*countdown == 0 && !cutBlock(*name)) {
            std::_Exit(10);
        }
    }
    void byte(std::uint8_t* block, std::size_t offset, std::uint8_t value) const {
        cutWhenDue();
        publication::AtomicStores{}.byte(block, offset, value);
    }
    void real(std::uint8_t* block, std::size_t offset, double value) const {
        cutWhenDue();
        publication::AtomicStores{}.real(block, offset, value);
    }
    template <std::size_t Offset> void statusPair(std::uint8_t* block) const {
        cutWhenDue();
        publication::AtomicStores{}.template statusPair<Offset>(block);
    }
};

// Another program cuts the block short while frames are published: the next
// store into the mapping would raise SIGBUS and take the receive thread (and
// the monitor) down. The frames run on in a child, which must exit normally,
// say once that publication stopped, and leave the block as it was cut.
TEST_F(PublicationBlockTest, ABlockCutShortByAnotherProgramNeverKillsTheMonitor) {
    struct Case {
        const char* what;
        int cutAt; // the store before which the block is cut; 0: before the first frame
    };
    // Frame 0 makes stores 1-2 (intensity), frame 2 stores 3-7 (environment),
    // frame 4 stores 8-153 (busy byte, samples, status pair), frame 9 the next copy.
    const Case cases[] = {
        {"before any frame", 0},
        {"at the intensity status", 1},
        {"among the environment values", 4},
        {"at the busy byte of a copy", 8},
        {"in the middle of the samples", 80},
        {"at the status pair of a copy", 153},
        {"in a later copy", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CaseBlockName caseName("cut");
        const std::string& blockName = caseName.name;
        const std::string stopped = "kelvora: shared-memory block " + blockName +
                                    " was cut short by another program; live values are no "
                                    "longer published\n";
        EXPECT_EXIT(
            {
                int countdown = c.cutAt;
                BasicPublicationBlock<CuttingStores> block(blockName,
                                                           CuttingStores{&blockName, &countdown});
                if (!block.create()) {
                    std::_Exit(11);
                }
                if (c.cutAt == 0 && !cutBlock(blockName)) {
                    std::_Exit(12);
                }
                PipelineRig cutRig;
                cutRig.pipeline.setPublication(&block);
                cutRig.pipeline.startReception();
                for (int n = 0; n < 250; ++n) {
                    runFrame(cutRig, numberedFrame(n));
                }
                std::_Exit(block.isOpen() ? 13 : 0); // publication has stopped
            },
            ::testing::ExitedWithCode(0), exactly(stopped));
        EXPECT_TRUE(blockExists(blockName));
        EXPECT_EQ(blockStat(blockName).st_size, 0) << "nobody grew it back";
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerSigbusHandler = true;
#else
constexpr bool kSanitizerSigbusHandler = false;
#endif

// Ended by the bus error: killed by SIGBUS or, in a sanitizer build (whose
// handler was installed before ours and is passed the signal), through the
// sanitizer's report, which exits or aborts (abort_on_error).
bool endedByBusError(int status) {
    if (kSanitizerSigbusHandler) {
        return (WIFEXITED(status) && WEXITSTATUS(status) != 0) ||
               (WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
}

// The monitor's guard acts on its blocks' addresses only: a SIGBUS anywhere
// else, from a fault or sent, still ends the process as it would without it.
TEST_F(PublicationBlockTest, OtherBusErrorsStillEndTheProcess) {
    PublicationBlock block(name);
    ASSERT_TRUE(block.create());
    const CaseBlockName other("other");
    const int fd = ::shm_open(other.name.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    void* mapped = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ::close(fd);
    const char* report = kSanitizerSigbusHandler ? "DEADLYSIGNAL" : "";

    EXPECT_EXIT(
        {
            std::atomic_ref<std::uint8_t>(*static_cast<std::uint8_t*>(mapped)).store(1);
            std::_Exit(0);
        },
        endedByBusError, report);
    EXPECT_EXIT(::raise(SIGBUS), endedByBusError, report);
    ::munmap(mapped, 4096);
    EXPECT_TRUE(block.isOpen());
}

// A block cut short is dropped at the next create(): a new block is made and
// published into.
TEST_F(PublicationBlockTest, CreateAfterTheBlockWasCutShortStartsAFreshBlock) {
    EXPECT_EXIT(
        {
            PublicationBlock block(name);
            if (!block.create() || !cutBlock(name)) {
                std::_Exit(11);
            }
            rig.pipeline.setPublication(&block);
            rig.pipeline.startReception();
            for (int n = 0; n < 5; ++n) {
                runFrame(rig, numberedFrame(n));
            }
            if (block.isOpen() || !block.create()) {
                std::_Exit(12);
            }
            for (int n = 5; n < 10; ++n) {
                runFrame(rig, numberedFrame(n));
            }
            SharedBlockReader reader(name);
            std::_Exit(reader.isOpen() && reader.byte(kAccelUpdated) == 0xFF &&
                               reader.sample(kAccelX, 0) == numberedFrame(5).accelX
                           ? 0
                           : 13);
        },
        ::testing::ExitedWithCode(0), "was cut short");
}

// A block this user owns, whoever made it and with whatever mode, is narrowed
// to the user's own programs before anything is published into it.
TEST_F(PublicationBlockTest, AnOwnBlockWithLooserPermissionsIsNarrowedTo0600) {
    struct Case {
        const char* what;
        bool readerMadeIt; // else the monitor makes it
        mode_t mode;       // of the block a reader made first
        mode_t umask;
    };
    const Case cases[] = {
        {"a reader's block open to everyone", true, 0666, 022},
        {"a reader's block readable by everyone", true, 0644, 022},
        {"a reader's block open to the group", true, 0660, 022},
        // Even its owner cannot open these for writing (root could).
        {"a reader's block with no permissions at all", true, 0000, 022},
        {"a reader's block its owner may only read", true, 0400, 022},
        {"the monitor's own block under a umask without the owner's write", false, 0, 0277},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CaseBlockName caseName("mode");
        const std::string& blockName = caseName.name;
        if (c.readerMadeIt) {
            const int fd = ::shm_open(blockName.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::fchmod(fd, c.mode), 0); // past the umask
            ASSERT_EQ(::ftruncate(fd, 256), 0);
            ::close(fd);
        }
        const mode_t previous = ::umask(c.umask);
        PublicationBlock block(blockName);
        const bool created = block.create();
        ::umask(previous);
        ASSERT_TRUE(created);
        const struct stat info = blockStat(blockName);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(info.st_size, 256);
        block.destroy();
    }
}

// Another program may make the block larger than the layout for data of its
// own: it is used as it is, never shrunk (which would kill that program with
// SIGBUS at its next access past byte 256).
TEST_F(PublicationBlockTest, ABlockAnotherProgramMadeLargerKeepsItsSizeAndItsOwnData) {
    constexpr std::size_t kLarger = 8192;
    const int fd = ::shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kLarger)), 0);
    void* mapped = ::mmap(nullptr, kLarger, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* other = static_cast<volatile std::uint8_t*>(mapped);
    other[300] = 0x5A;
    other[kLarger - 1] = 0xA5;

    ASSERT_NO_FATAL_FAILURE(startPublishing());
    for (int n = 0; n < 103; ++n) {
        frame(n);
    }
    EXPECT_EQ(blockStat(name).st_size, static_cast<off_t>(kLarger));
    // Had it been shrunk, these reads would end the test with SIGBUS.
    EXPECT_EQ(other[300], 0x5A);
    EXPECT_EQ(other[kLarger - 1], 0xA5);
    SharedBlockReader reader(name);
    EXPECT_EQ(reader.byte(kEnvUpdated), 0xFF);
    EXPECT_EQ(reader.real(kSeaLevelPressure), numberedFrame(102).seaLevelPressure);
    ::munmap(mapped, kLarger);
}

// A block another user owns is refused: one line on standard error, nothing
// published, and the block left exactly as it was (contents, size, mode,
// owner). Tried both ways: the monitor as root against a block given to
// another user, and the monitor as an ordinary user against root's block.
TEST_F(PublicationBlockTest, ABlockAnotherUserOwnsIsRefusedWithOneMessageAndLeftAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a block to another user or to run as another user";
    }
    constexpr uid_t kOrdinaryUser = 64123;
    constexpr uid_t kOtherUser = 64124;
    struct Case {
        const char* what;
        mode_t mode;
        bool monitorAsOrdinaryUser; // else root, with the block given to kOtherUser
        std::string reason;
    };
    const Case cases[] = {
        {"root's block open to everyone", 0666, true, "belongs to user 0"},
        {"root's block for root alone", 0600, true, "Permission denied"},
        {"another user's block open to everyone", 0666, false, "belongs to user 64124"},
        {"another user's block for that user alone", 0600, false, "belongs to user 64124"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CaseBlockName caseName("owner");
        const std::string& blockName = caseName.name;
        {
            const int fd = ::shm_open(blockName.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::ftruncate(fd, 256), 0);
            ASSERT_EQ(::fchmod(fd, c.mode), 0);
            if (!c.monitorAsOrdinaryUser) {
                ASSERT_EQ(::fchown(fd, kOtherUser, kOtherUser), 0);
            }
            ::close(fd);
        }
        {
            SharedBlockReader owner(blockName);
            ASSERT_TRUE(owner.isOpen());
            owner.fill(0xAA);
        }
        const struct stat before = blockStat(blockName);

        EXPECT_EXIT(
            {
                if (c.monitorAsOrdinaryUser &&
                    (::setgroups(0, nullptr) != 0 ||
                     ::setresgid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) != 0 ||
                     ::setresuid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) != 0)) {
                    std::_Exit(11);
                }
                PublicationBlock block(blockName);
                const bool created = block.create();
                PipelineRig ownerRig;
                ownerRig.pipeline.setPublication(&block);
                ownerRig.pipeline.startReception();
                for (int n = 0; n < 110; ++n) {
                    runFrame(ownerRig, numberedFrame(n));
                }
                block.destroy();
                std::_Exit(created || block.isOpen() ? 12 : 0);
            },
            ::testing::ExitedWithCode(0),
            exactly("kelvora: shared-memory block " + blockName + ": " + c.reason +
                    "; live values are not published\n"));

        EXPECT_TRUE(blockExists(blockName)) << "not removed";
        const struct stat after = blockStat(blockName);
        EXPECT_EQ(after.st_size, before.st_size);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        SharedBlockReader reader(blockName);
        EXPECT_TRUE(reader.isOpen());
        if (reader.isOpen()) {
            const auto bytes = reader.bytes();
            EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0xAA), 256) << "bytes written into";
        }
    }
}

// The name is removed only when this process made the block and the name
// still stands for it; a reader's block, or one a reader made again under the
// same name, stays for its owner.
TEST_F(PublicationBlockTest, DestroyRemovesOnlyTheBlockThisProcessCreated) {
    struct Case {
        const char* what;
        bool readerFirst;    // a reader made the block before the monitor started
        bool remadeByReader; // removed and made again under the same name meanwhile
        bool removed;
    };
    const Case cases[] = {
        {"made by the monitor", false, false, true},
        {"made by a reader first", true, false, false},
        {"made by the monitor, then removed and made again by a reader", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CaseBlockName caseName("owned");
        const std::string& blockName = caseName.name;
        if (c.readerFirst) {
            SharedBlockReader early(blockName, 256);
            ASSERT_TRUE(early.isOpen());
        }
        PublicationBlock block(blockName);
        ASSERT_TRUE(block.create());
        if (c.remadeByReader) {
            ASSERT_EQ(::shm_unlink(blockName.c_str()), 0);
            SharedBlockReader again(blockName, 256);
            ASSERT_TRUE(again.isOpen());
        }
        block.destroy();
        EXPECT_EQ(blockExists(blockName), !c.removed);
    }
}

} // namespace
} // namespace kelvora::test
