// The frame decoder on hand-made byte streams: resynchronisation,
// split deliveries, time-outs, checksum byte order, and the field-by-field
// application of a good frame.
#include "FrameFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvora::test {
namespace {

// What the receive loop saw on a stream of read results.
struct DriveLog {
    int bad = 0;
    std::vector<std::size_t> goodStarts; // read position of each good frame's first byte
    std::vector<double> goodSensorSiGal; // sensorSiGal right after each good frame
};

// The receive loop over `reads`: receiveStep, with the extra read after a bad
// frame taken from the same stream.
DriveLog drive(PipelineRig& rig, const std::vector<ReadResult>& reads) {
    DriveLog log;
    std::size_t next = 0;
    auto read = [&] { return next < reads.size() ? reads[next++] : ReadResult::none(); };
    while (next < reads.size()) {
        const AssembleResult r = receiveStep(rig.pipeline, read);
        if (r == AssembleResult::GoodFrame) {
            log.goodStarts.push_back(next - frame::kSize);
            log.goodSensorSiGal.push_back(rig.state.sensorSiGal);
        } else if (r == AssembleResult::BadFrame) {
            ++log.bad;
        }
    }
    return log;
}

// Frame k of a numbered stream: every value depends on k.
FrameValues numberedFrame(int k) {
    FrameValues v;
    const auto f = static_cast<float>(k);
    v.sensorSiGal = 100.0f + f;
    v.sensorVelocity = 0.5f * f;
    v.accelX = 1.25f * f;
    v.accelY = -0.75f * f;
    v.accelZ = 3.0f + f;
    v.temperature = 20.0f + 0.125f * f;
    v.humidity = 40.0f + f;
    v.pressure = 1000.0f + f;
    v.seaLevelPressure = 1010.0f + f;
    v.reserved = 0x01020304u * static_cast<std::uint32_t>(k + 1);
    return v;
}

FrameValues frameA() {
    return {1.5f, 2.25f, -3.5f, 4.75f, -5.125f, 21.5f, 45.25f, 1013.25f, 1015.5f, 0};
}
FrameValues frameB() {
    return {11.5f, 12.25f, -13.5f, 14.75f, -15.125f, -7.5f, 88.0f, 990.5f, 1001.75f, 0xDEADBEEF};
}

struct Field {
    const char* name;
    std::size_t offset;
    double MeasurementState::*member;
};

const std::vector<Field> kFields = {
    {"sensorSiGal", frame::kSensorSiGal, &MeasurementState::sensorSiGal},
    {"sensorVelocity", frame::kSensorVelocity, &MeasurementState::sensorVelocity},
    {"accelX", frame::kAccelX, &MeasurementState::accelX},
    {"accelY", frame::kAccelY, &MeasurementState::accelY},
    {"accelZ", frame::kAccelZ, &MeasurementState::accelZ},
    {"temperature", frame::kTemperature, &MeasurementState::temperature},
    {"humidity", frame::kHumidity, &MeasurementState::humidity},
    {"pressure", frame::kPressure, &MeasurementState::pressure},
    {"seaLevelPressure", frame::kSeaLevelPressure, &MeasurementState::seaLevelPressure},
};

void PrintTo(const Field& f, std::ostream* os) {
    *os << f.name;
}

double fieldOf(const FrameValues& v, std::size_t offset) {
    const FrameBytes bytes = encodeFrame(v);
    return static_cast<double>(readFloat(&bytes[offset]));
}

// --- Resynchronisation ------------------------------------------------------

struct ResyncCase {
    std::size_t droppedBytes; // bytes of the first frame the receiver missed
    int badFrames;            // expected bad frames before the first good one
    std::size_t firstGoodAt;  // expected position of its first byte in the received stream
};

void PrintTo(const ResyncCase& c, std::ostream* os) {
    *os << "dropped " << c.droppedBytes;
}

class FrameResync : public ::testing::TestWithParam<ResyncCase> {};

// Each bad frame consumes 43 bytes, moving the assumed boundary one byte on:
// after dropping d bytes the true boundary is found after 42 - d bad frames,
// at position 43 * (42 - d).
TEST_P(FrameResync, BadFramesOfFortyThreeBytesUntilTheBoundary) {
    const ResyncCase& c = GetParam();
    constexpr int kFrames = 60;
    std::vector<FrameValues> frames;
    for (int k = 0; k < kFrames; ++k) {
        frames.push_back(numberedFrame(k));
    }
    std::vector<std::uint8_t> bytes = bytesOf(frames);
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(c.droppedBytes));

    PipelineRig rig;
    rig.pipeline.startReception();
    const DriveLog log = drive(rig, readsOf(bytes));

    EXPECT_EQ(log.bad, c.badFrames);
    ASSERT_FALSE(log.goodStarts.empty());
    EXPECT_EQ(log.goodStarts.front(), c.firstGoodAt);
    // The first good frame is the original frame that starts there, decoded normally.
    const std::size_t original = (c.firstGoodAt + c.droppedBytes) / frame::kSize;
    EXPECT_EQ((c.firstGoodAt + c.droppedBytes) % frame::kSize, 0u);
    EXPECT_EQ(log.goodSensorSiGal.front(), 100.0 + static_cast<double>(original));
    // From there on every frame is good.
    EXPECT_EQ(log.goodStarts.size(), static_cast<std::size_t>(kFrames) - original);
    EXPECT_EQ(rig.state.goodFrameCount, static_cast<int>(log.goodStarts.size()));
    EXPECT_EQ(rig.state.accelZ, 3.0 + (kFrames - 1));
}

INSTANTIATE_TEST_SUITE_P(StartInMidFrame, FrameResync,
                         ::testing::Values(ResyncCase{0, 0, 0},      // aligned
                                           ResyncCase{41, 1, 43},    // one byte of frame 0 left
                                           ResyncCase{40, 2, 86},    //
                                           ResyncCase{21, 21, 903},  // half a frame
                                           ResyncCase{2, 40, 1720},  //
                                           ResyncCase{1, 41, 1763}), // the longest search
                         [](const auto& tp) {
                             return "Dropped" + std::to_string(tp.param.droppedBytes);
                         });

// --- Split deliveries --------------------------------------------------------

struct SplitCase {
    const char* name;
    std::vector<std::size_t> chunks; // sizes of consecutive deliveries of two frames
    std::vector<int> goodPerChunk;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameSplitChunks : public ::testing::TestWithParam<SplitCase> {};

// Reads delivered in separate batches build the same frames: the assembler
// keeps its partial frame between batches as long as no read comes back empty.
TEST_P(FrameSplitChunks, PartialFrameSurvivesBetweenDeliveries) {
    const SplitCase& c = GetParam();
    const std::vector<std::uint8_t> bytes = bytesOf({frameA(), frameB()});
    PipelineRig rig;
    rig.pipeline.startReception();
    std::size_t at = 0;
    for (std::size_t i = 0; i < c.chunks.size(); ++i) {
        SCOPED_TRACE("chunk " + std::to_string(i));
        const std::vector<std::uint8_t> chunk(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                              bytes.begin() +
                                                  static_cast<std::ptrdiff_t>(at + c.chunks[i]));
        at += c.chunks[i];
        EXPECT_EQ(rig.feed(readsOf(chunk)), c.goodPerChunk[i]);
        EXPECT_EQ(rig.pipeline.assembler().byteCount(), static_cast<int>(at % frame::kSize));
    }
    ASSERT_EQ(at, bytes.size());
    EXPECT_EQ(rig.state.goodFrameCount, 2);
    EXPECT_EQ(rig.state.accelX, -13.5);
    EXPECT_EQ(rig.state.seaLevelPressure, 1001.75);
}

INSTANTIATE_TEST_SUITE_P(Deliveries, FrameSplitChunks,
                         ::testing::Values(SplitCase{"Whole", {84}, {2}},
                                           SplitCase{"FrameByFrame", {42, 42}, {1, 1}},
                                           SplitCase{"OneThenRest", {1, 41, 42}, {0, 1, 1}},
                                           SplitCase{"AllButLast", {41, 1, 42}, {0, 1, 1}},
                                           SplitCase{"Halves", {20, 22, 21, 21}, {0, 1, 0, 1}},
                                           SplitCase{"AcrossTheBoundary", {50, 34}, {1, 1}},
                                           SplitCase{"ByteByByteEnd", {43, 40, 1}, {1, 0, 1}}),
                         [](const auto& tp) { return std::string(tp.param.name); });

// --- Time-outs ----------------------------------------------------------------

struct TimeoutCase {
    std::size_t partialBytes; // bytes of frame A before the silence
    bool timeout;             // whether a read comes back empty after them
    int good;
    int bad;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) {
    *os << c.partialBytes << (c.timeout ? " + time-out" : " without time-out");
}

class FrameTimeout : public ::testing::TestWithParam<TimeoutCase> {};

// A partial frame followed by an empty read is dropped and the next byte starts
// a new frame; without the empty read the partial bytes spoil the next frame.
TEST_P(FrameTimeout, EmptyReadDropsThePartialFrame) {
    const TimeoutCase& c = GetParam();
    const FrameBytes a = encodeFrame(frameA());
    std::vector<ReadResult> reads;
    for (std::size_t i = 0; i < c.partialBytes; ++i) {
        reads.push_back(ReadResult::of(a[i]));
    }
    if (c.timeout) {
        reads.push_back(ReadResult::none());
    }
    const std::vector<ReadResult> b = readsOf(bytesOf(encodeFrame(frameB())));
    reads.insert(reads.end(), b.begin(), b.end());

    PipelineRig rig;
    rig.pipeline.startReception();
    const DriveLog log = drive(rig, reads);
    EXPECT_EQ(static_cast<int>(log.goodStarts.size()), c.good);
    EXPECT_EQ(log.bad, c.bad);
    if (c.good == 1) {
        EXPECT_EQ(log.goodStarts.front(), c.partialBytes + 1); // right after the empty read
        EXPECT_EQ(rig.state.sensorSiGal, 11.5);
        EXPECT_EQ(rig.state.accelZ, -15.125);
    } else {
        EXPECT_EQ(rig.state.sensorSiGal, 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Silences, FrameTimeout,
                         ::testing::Values(TimeoutCase{1, true, 1, 0}, TimeoutCase{20, true, 1, 0},
                                           TimeoutCase{41, true, 1, 0}, TimeoutCase{0, true, 1, 0},
                                           // no silence: 41 + 42 bytes make one bad frame
                                           // (43 bytes) and a partial of 40
                                           TimeoutCase{41, false, 0, 1}),
                         [](const auto& tp) {
                             return "Partial" + std::to_string(tp.param.partialBytes) +
                                    (tp.param.timeout ? "WithTimeout" : "WithoutTimeout");
                         });

TEST(FrameAssembler, ByteCountFollowsTheReadsAndAnEmptyReadZeroesIt) {
    FrameAssembler assembler;
    const FrameBytes a = encodeFrame(frameA());
    for (std::size_t i = 0; i < 41; ++i) {
        EXPECT_EQ(assembler.pushRead(ReadResult::of(a[i])), AssembleResult::Incomplete);
        EXPECT_EQ(assembler.byteCount(), static_cast<int>(i + 1));
    }
    EXPECT_EQ(assembler.pushRead(ReadResult::none()), AssembleResult::Incomplete);
    EXPECT_EQ(assembler.byteCount(), 0);
    // An empty read with nothing assembled changes nothing either.
    EXPECT_EQ(assembler.pushRead(ReadResult::none()), AssembleResult::Incomplete);
    EXPECT_EQ(assembler.byteCount(), 0);
    for (std::size_t i = 0; i < frame::kSize; ++i) {
        const AssembleResult r = assembler.pushRead(ReadResult::of(a[i]));
        EXPECT_EQ(r, i + 1 < frame::kSize ? AssembleResult::Incomplete : AssembleResult::GoodFrame);
    }
    EXPECT_EQ(assembler.frame(), a);
    EXPECT_EQ(assembler.byteCount(), 0);
}

TEST(FrameAssembler, ResetDropsThePartialFrameAndZeroesTheBuffer) {
    FrameAssembler assembler;
    const FrameBytes a = encodeFrame(frameA());
    for (std::size_t i = 0; i < 30; ++i) {
        assembler.pushRead(ReadResult::of(a[i]));
    }
    assembler.reset();
    EXPECT_EQ(assembler.byteCount(), 0);
    EXPECT_EQ(assembler.frame(), FrameBytes{});
}

// --- Checksum -----------------------------------------------------------------

struct ChecksumCase {
    const char* name;
    FrameBytes bytes;
    AssembleResult expected;
};

void PrintTo(const ChecksumCase& c, std::ostream* os) {
    *os << c.name;
}

FrameBytes byteSwappedChecksum(FrameBytes f) {
    std::swap(f[frame::kChecksum], f[frame::kChecksum + 1]);
    return f;
}

// Bytes 0 and 1 summing to 257 (0x0101): both checksum bytes are 0x01, so the
// big-endian order reads the same.
FrameBytes palindromicChecksumFrame() {
    FrameBytes f{};
    f[0] = 0xFF;
    f[1] = 0x02;
    f[40] = 0x01;
    f[41] = 0x01;
    return f;
}

FrameBytes allFF() {
    FrameBytes f{};
    for (std::size_t i = 0; i < frame::kChecksummedBytes; ++i) {
        f[i] = 0xFF;
    }
    f[40] = 0xD8; // 40 * 255 = 10200 = 0x27D8, little-endian
    f[41] = 0x27;
    return f;
}

class FrameChecksum : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(FrameChecksum, ComparedLittleEndianOverBytesZeroToThirtyNine) {
    const ChecksumCase& c = GetParam();
    FrameAssembler assembler;
    AssembleResult last = AssembleResult::Incomplete;
    for (std::size_t i = 0; i < frame::kSize; ++i) {
        last = assembler.pushRead(ReadResult::of(c.bytes[i]));
        if (i + 1 < frame::kSize) {
            ASSERT_EQ(last, AssembleResult::Incomplete);
        }
    }
    EXPECT_EQ(last, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameChecksum,
    ::testing::Values(
        ChecksumCase{"LittleEndian", encodeFrame(frameA()), AssembleResult::GoodFrame},
        ChecksumCase{"BigEndian", byteSwappedChecksum(encodeFrame(frameA())),
                     AssembleResult::BadFrame},
        ChecksumCase{"BigEndianEqualBytes", byteSwappedChecksum(palindromicChecksumFrame()),
                     AssembleResult::GoodFrame},
        ChecksumCase{"AllFF", allFF(), AssembleResult::GoodFrame},
        ChecksumCase{"AllZero", FrameBytes{}, AssembleResult::GoodFrame},
        ChecksumCase{"ReservedCovered",
                     [] {
                         FrameBytes f = encodeFrame(frameA());
                         f[frame::kReserved] ^= 0x10;
                         return f;
                     }(),
                     AssembleResult::BadFrame}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST(FrameChecksumRule, FixturesAreWhatTheyClaim) {
    const FrameBytes a = encodeFrame(frameA());
    EXPECT_NE(a[frame::kChecksum], a[frame::kChecksum + 1]);
    EXPECT_EQ(frameChecksum(allFF().data()), 10200);
    EXPECT_EQ(frameChecksum(palindromicChecksumFrame().data()), 0x0101);
}

// A bad frame changes no value and no counter; the extra read is thrown away.
TEST(FrameChecksumRule, BadFrameChangesNothingAndSkipsOneRead) {
    PipelineRig rig;
    rig.pipeline.startReception();
    std::vector<std::uint8_t> bytes = bytesOf(encodeFrame(frameA()));
    const std::vector<std::uint8_t> bad = bytesOf(byteSwappedChecksum(encodeFrame(frameB())));
    bytes.insert(bytes.end(), bad.begin(), bad.end());
    bytes.push_back(0x55); // the skipped read
    const std::vector<std::uint8_t> a2 = bytesOf(encodeFrame(frameA()));
    bytes.insert(bytes.end(), a2.begin(), a2.end());

    const DriveLog log = drive(rig, readsOf(bytes));
    EXPECT_EQ(log.bad, 1);
    ASSERT_EQ(log.goodStarts.size(), 2u);
    EXPECT_EQ(log.goodStarts[1], 2 * frame::kSize + 1);
    EXPECT_EQ(rig.state.goodFrameCount, 2);
    EXPECT_EQ(rig.state.frameIndex, 2);
    EXPECT_EQ(rig.state.sensorSiGal, 1.5);
}

// --- Field application ----------------------------------------------------------

TEST(FrameApply, AllFFFrameIsGoodButChangesNoValue) {
    PipelineRig rig;
    rig.pipeline.startReception();
    std::vector<std::uint8_t> bytes = bytesOf(encodeFrame(frameA()));
    const std::vector<std::uint8_t> ff = bytesOf(allFF());
    bytes.insert(bytes.end(), ff.begin(), ff.end());
    EXPECT_EQ(rig.feed(readsOf(bytes)), 2);
    EXPECT_EQ(rig.state.goodFrameCount, 2);
    for (const Field& f : kFields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(rig.state.*f.member, fieldOf(frameA(), f.offset));
    }
}

TEST(FrameApply, FortyTwoZeroBytesAreGoodAndZeroEveryValue) {
    PipelineRig rig;
    rig.pipeline.startReception();
    std::vector<std::uint8_t> bytes = bytesOf(encodeFrame(frameA()));
    bytes.insert(bytes.end(), frame::kSize, 0x00);
    EXPECT_EQ(rig.feed(readsOf(bytes)), 2);
    EXPECT_EQ(rig.state.goodFrameCount, 2);
    for (const Field& f : kFields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(rig.state.*f.member, 0.0);
        EXPECT_FALSE(std::signbit(rig.state.*f.member));
    }
}

// Bit patterns whose eight exponent bits are all ones.
const std::vector<std::uint32_t> kNonFinitePatterns = {
    0x7FC00000u, // quiet NaN
    0xFFC00000u, // negative quiet NaN
    0x7F800001u, // signalling NaN
    0x7FFFFFFFu, // NaN with every payload bit
    0x7F800000u, // +infinity
    0xFF800000u, // -infinity
};

class FrameNonFiniteField : public ::testing::TestWithParam<Field> {};

// One non-finite float keeps its value; the other eight of the same frame are
// applied and the frame still counts as good.
TEST_P(FrameNonFiniteField, SkippedAloneWhileTheOthersApply) {
    const Field& skipped = GetParam();
    for (std::uint32_t pattern : kNonFinitePatterns) {
        SCOPED_TRACE(::testing::Message() << std::hex << "pattern 0x" << pattern);
        FrameBytes second = encodeFrame(frameB());
        writeU32(&second[skipped.offset], pattern);
        sealFrame(second);

        PipelineRig rig;
        rig.pipeline.startReception();
        std::vector<std::uint8_t> bytes = bytesOf(encodeFrame(frameA()));
        const std::vector<std::uint8_t> tail = bytesOf(second);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        const DriveLog log = drive(rig, readsOf(bytes));

        EXPECT_EQ(log.bad, 0);
        EXPECT_EQ(log.goodStarts.size(), 2u);
        EXPECT_EQ(rig.state.goodFrameCount, 2);
        for (const Field& f : kFields) {
            SCOPED_TRACE(f.name);
            const double expected = f.offset == skipped.offset ? fieldOf(frameA(), f.offset)
                                                               : fieldOf(frameB(), f.offset);
            EXPECT_EQ(rig.state.*f.member, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, FrameNonFiniteField, ::testing::ValuesIn(kFields),
                         [](const auto& tp) { return std::string(tp.param.name); });

class FrameMotionLimit : public ::testing::TestWithParam<Field> {};

// A value beyond 10000 in magnitude in one of the five motion fields is kept
// out as a non-finite one is; 10000 itself and anything in the weather fields
// are applied. The other fields of that frame apply and the frame is good.
TEST_P(FrameMotionLimit, BeyondTenThousandIsSkippedInMotionFieldsOnly) {
    const Field& field = GetParam();
    const bool motion = field.offset <= frame::kAccelZ;
    struct Value {
        float value;
        bool beyondLimit;
    };
    const Value values[] = {
        {1e5f, true},
        {8e37f, true},
        {-3e8f, true},
        {10000.5f, true},
        {std::nextafter(10000.0f, 2e4f), true},
        {-std::nextafter(10000.0f, 2e4f), true},
        {10000.0f, false},
        {-10000.0f, false},
        {std::nextafter(10000.0f, 0.0f), false},
        {-1234.5f, false},
    };
    for (const Value& v : values) {
        SCOPED_TRACE(::testing::Message() << "value " << v.value);
        FrameBytes second = encodeFrame(frameB());
        writeFloat(&second[field.offset], v.value);
        sealFrame(second);

        PipelineRig rig;
        rig.pipeline.startReception();
        std::vector<std::uint8_t> bytes = bytesOf(encodeFrame(frameA()));
        const std::vector<std::uint8_t> tail = bytesOf(second);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        EXPECT_EQ(rig.feed(readsOf(bytes)), 2);
        EXPECT_EQ(rig.state.goodFrameCount, 2);
        for (const Field& f : kFields) {
            SCOPED_TRACE(f.name);
            double expected = fieldOf(frameB(), f.offset);
            if (f.offset == field.offset) {
                expected = motion && v.beyondLimit ? fieldOf(frameA(), f.offset)
                                                   : static_cast<double>(v.value);
            }
            EXPECT_EQ(rig.state.*f.member, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, FrameMotionLimit, ::testing::ValuesIn(kFields),
                         [](const auto& tp) { return std::string(tp.param.name); });

// Only an all-ones exponent is skipped: the largest finite float, a subnormal
// and a negative zero are stored.
TEST(FrameApply, FiniteExtremesAreApplied) {
    struct Extreme {
        std::uint32_t bits;
        double expected;
    };
    const std::vector<Extreme> extremes = {
        {0x7F7FFFFFu, static_cast<double>(3.4028234663852886e38f)},
        {0x00000001u, 0x1p-149},
        {0x80000000u, -0.0},
        {0xFF7FFFFFu, -static_cast<double>(3.4028234663852886e38f)},
    };
    for (const Extreme& e : extremes) {
        SCOPED_TRACE(::testing::Message() << std::hex << "bits 0x" << e.bits);
        FrameBytes f = encodeFrame(frameA());
        writeU32(&f[frame::kTemperature], e.bits);
        sealFrame(f);
        MeasurementState state;
        state.temperature = 99.0;
        applyFrame(f, state);
        EXPECT_EQ(state.temperature, e.expected);
        EXPECT_EQ(std::signbit(state.temperature), std::signbit(e.expected));
        EXPECT_EQ(state.accelX, -3.5);
    }
}

// The reserved field and the checksum feed no value.
TEST(FrameApply, ReservedFieldIsNotInterpreted) {
    FrameValues v = frameA();
    MeasurementState one;
    MeasurementState other;
    v.reserved = 0;
    applyFrame(encodeFrame(v), one);
    v.reserved = 0xFFFFFFFFu;
    applyFrame(encodeFrame(v), other);
    for (const Field& f : kFields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(one.*f.member, other.*f.member);
    }
}

} // namespace
} // namespace kelvora::test
