#include "SyntheticSensor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace kelvora::sim {
namespace {

constexpr std::size_t kFramesPer10s = 1000;

bool checksumMatches(const std::uint8_t* f) {
    return frameChecksum(f) == readU16(f + frame::kChecksum);
}

std::vector<float> floatsOf(const std::uint8_t* f) {
    std::vector<float> out;
    for (std::size_t i = 0; i < frame::kFloatCount; ++i) {
        out.push_back(readFloat(f + 4 * i));
    }
    return out;
}

struct FaultCase {
    std::string name;
    LineFaults faults;
};

const std::vector<FaultCase> kFaultCases = {
    {"clean", {}},
    {"corrupt", {.corruptRate = 0.01}},
    {"drop", {.dropRate = 0.01}},
    {"nan", {.nanRate = 0.2}},
    {"midFrame", {.startMidFrame = true}},
    {"all", {.corruptRate = 0.005, .dropRate = 0.005, .nanRate = 0.1, .startMidFrame = true}},
};

TEST(SyntheticStream, SeedAloneDeterminesTheBytes) {
    const std::vector<QuakeEvent> events = {{2.0, 5.0, 50.0}};
    for (const auto& c : kFaultCases) {
        SCOPED_TRACE(c.name);
        const auto a = makeStream(7, 10.0, events, c.faults);
        EXPECT_EQ(a, makeStream(7, 10.0, events, c.faults));
        EXPECT_NE(a, makeStream(8, 10.0, events, c.faults));
    }
}

TEST(SyntheticStream, CleanFramesAreGoodAndFinite) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const auto bytes = makeStream(seed, 10.0, {{1.0, 6.0, 400.0}, {4.0, 3.0, 80.0}});
        ASSERT_EQ(bytes.size(), kFramesPer10s * frame::kSize);
        for (std::size_t at = 0; at < bytes.size(); at += frame::kSize) {
            ASSERT_TRUE(checksumMatches(&bytes[at])) << "frame at byte " << at;
            for (float v : floatsOf(&bytes[at])) {
                ASSERT_TRUE(std::isfinite(v)) << "frame at byte " << at;
            }
        }
    }
}

struct Window {
    double peakHorizontal = 0;
    double peakZ = 0;
    double peakSi = 0;
    double peakVelocity = 0;
};

// Quiet before and after the event, shaking of about peakGal during it.
TEST(SyntheticSensor, EventShakesAtItsPeakAndQuietStaysSmall) {
    constexpr double kStart = 5.0;
    constexpr double kDuration = 20.0;
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        for (double peak : {2.0, 100.0, 800.0}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " peak " << peak);
            SyntheticSensor sensor(seed, {{kStart, kDuration, peak}});
            Window before, during, after, tail;
            while (sensor.seconds() < kStart + kDuration + 10.0) {
                const double t = sensor.seconds();
                const FrameValues v = sensor.next();
                // The sensor's smoothed figures need a few seconds to settle after the event.
                Window& w = t < kStart                     ? before
                            : t < kStart + kDuration       ? during
                            : t < kStart + kDuration + 4.0 ? tail
                                                           : after;
                w.peakHorizontal = std::max(
                    {w.peakHorizontal, std::abs(double{v.accelX}), std::abs(double{v.accelY})});
                w.peakZ = std::max(w.peakZ, std::abs(double{v.accelZ}));
                w.peakSi = std::max(w.peakSi, double{v.sensorSiGal});
                w.peakVelocity = std::max(w.peakVelocity, double{v.sensorVelocity});
            }
            for (const Window* quiet : {&before, &after}) {
                EXPECT_LT(quiet->peakHorizontal, 0.3);
                EXPECT_LT(quiet->peakZ, 0.3);
                EXPECT_LT(quiet->peakSi, 0.3);
                EXPECT_LT(quiet->peakVelocity, 0.05);
            }
            EXPECT_NEAR(during.peakHorizontal, peak, 0.1 * peak + 0.3);
            EXPECT_LT(during.peakZ, 0.8 * during.peakHorizontal + 0.3);
            EXPECT_GT(during.peakSi, 0.4 * peak);
            EXPECT_LT(during.peakSi, 1.5 * peak + 0.3);
            // Shaking of 0.5 to 10 Hz: velocity well below the acceleration figure.
            EXPECT_GT(during.peakVelocity, 0.02 * peak);
            EXPECT_LT(during.peakVelocity, 0.3 * peak);
        }
    }
}

TEST(SyntheticSensor, WeatherStaysInRangeAndChangesSlowly) {
    for (std::uint64_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        SyntheticSensor sensor(seed);
        FrameValues prev = sensor.next();
        float minTemp = prev.temperature, maxTemp = prev.temperature;
        for (int i = 0; i < 100 * 3600; ++i) {
            const FrameValues v = sensor.next();
            ASSERT_GE(v.temperature, 15.0f);
            ASSERT_LE(v.temperature, 30.0f);
            ASSERT_GE(v.humidity, 30.0f);
            ASSERT_LE(v.humidity, 80.0f);
            ASSERT_GE(v.pressure, 1000.0f);
            ASSERT_LE(v.pressure, 1020.0f);
            ASSERT_GT(v.seaLevelPressure - v.pressure, 1.0f);
            ASSERT_LT(v.seaLevelPressure - v.pressure, 8.0f);
            ASSERT_LT(std::abs(v.temperature - prev.temperature), 0.01f);
            ASSERT_LT(std::abs(v.humidity - prev.humidity), 0.01f);
            ASSERT_LT(std::abs(v.pressure - prev.pressure), 0.01f);
            minTemp = std::min(minTemp, v.temperature);
            maxTemp = std::max(maxTemp, v.temperature);
            prev = v;
        }
        EXPECT_GT(maxTemp - minTemp, 0.2f) << "weather should drift over an hour";
    }
}

TEST(LineFaults, LengthReflectsLostBytes) {
    const std::size_t clean = kFramesPer10s * frame::kSize;
    struct Case {
        std::string name;
        LineFaults faults;
        std::size_t minLost, maxLost;
    };
    const std::vector<Case> cases = {
        {"clean", {}, 0, 0},
        {"corrupt", {.corruptRate = 0.05}, 0, 0},
        {"nan", {.nanRate = 0.5}, 0, 0},
        {"midFrame", {.startMidFrame = true}, 1, frame::kSize - 1},
        {"drop", {.dropRate = 0.01}, clean / 100 * 7 / 10, clean / 100 * 13 / 10},
        {"dropAll", {.dropRate = 1.0}, clean, clean},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::uint64_t seed : {1u, 2u, 3u}) {
            const std::size_t lost = clean - makeStream(seed, 10.0, {}, c.faults).size();
            EXPECT_GE(lost, c.minLost);
            EXPECT_LE(lost, c.maxLost);
        }
    }
}

TEST(LineFaults, MidFrameStartIsATailOfTheCleanStreamAtASeededOffset) {
    std::set<std::size_t> offsets;
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const auto clean = makeStream(seed, 1.0, {});
        const auto cut = makeStream(seed, 1.0, {}, {.startMidFrame = true});
        ASSERT_LT(cut.size(), clean.size());
        const std::size_t offset = clean.size() - cut.size();
        EXPECT_NE(cut.size() % frame::kSize, 0u);
        EXPECT_TRUE(std::equal(cut.begin(), cut.end(), clean.begin() + offset));
        offsets.insert(offset);
    }
    EXPECT_GT(offsets.size(), 1u) << "the cut should depend on the seed";
}

TEST(LineFaults, NanFramesAreGoodFramesWithOneNonFiniteField) {
    constexpr double kRate = 0.2;
    const auto clean = makeStream(5, 10.0, {});
    const auto faulty = makeStream(5, 10.0, {}, {.nanRate = kRate});
    ASSERT_EQ(faulty.size(), clean.size());
    std::size_t nanFrames = 0;
    std::set<std::size_t> fields;
    bool sawInfinity = false, sawNan = false;
    for (std::size_t at = 0; at < faulty.size(); at += frame::kSize) {
        ASSERT_TRUE(checksumMatches(&faulty[at])) << "frame at byte " << at;
        std::size_t changed = 0;
        for (std::size_t i = 0; i < frame::kFloatCount; ++i) {
            const std::uint32_t bits = readU32(&faulty[at + 4 * i]);
            if (bits == readU32(&clean[at + 4 * i])) {
                continue;
            }
            ++changed;
            fields.insert(i);
            EXPECT_TRUE(isNonFiniteFloatBits(bits));
            const float f = std::bit_cast<float>(bits);
            sawInfinity |= std::isinf(f);
            sawNan |= std::isnan(f);
        }
        EXPECT_LE(changed, 1u);
        nanFrames += changed;
    }
    const double expected = kRate * kFramesPer10s;
    EXPECT_NEAR(static_cast<double>(nanFrames), expected, 0.3 * expected);
    EXPECT_EQ(fields.size(), frame::kFloatCount) << "every float field should be hit";
    EXPECT_TRUE(sawInfinity);
    EXPECT_TRUE(sawNan);
}

TEST(LineFaults, CorruptionFlipsSingleBits) {
    constexpr double kRate = 0.01;
    const auto clean = makeStream(9, 10.0, {});
    const auto faulty = makeStream(9, 10.0, {}, {.corruptRate = kRate});
    ASSERT_EQ(faulty.size(), clean.size());
    std::size_t flipped = 0;
    for (std::size_t i = 0; i < clean.size(); ++i) {
        if (clean[i] != faulty[i]) {
            EXPECT_EQ(std::popcount(static_cast<unsigned>(clean[i] ^ faulty[i])), 1) << i;
            ++flipped;
        }
    }
    const double expected = kRate * static_cast<double>(clean.size());
    EXPECT_NEAR(static_cast<double>(flipped), expected, 0.3 * expected);
}

} // namespace
} // namespace kelvora::sim
