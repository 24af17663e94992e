#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelvora {

// The sensor's 42-byte little-endian frame: nine binary32 floats, four reserved
// bytes and a 16-bit sum of bytes 0 to 39.
namespace frame {
inline constexpr std::size_t kSize = 42;
inline constexpr std::size_t kChecksummedBytes = 40;
inline constexpr std::size_t kFloatCount = 9;

inline constexpr std::size_t kSensorSiGal = 0;
inline constexpr std::size_t kSensorVelocity = 4;
inline constexpr std::size_t kAccelX = 8;
inline constexpr std::size_t kAccelY = 12;
inline constexpr std::size_t kAccelZ = 16;
inline constexpr std::size_t kTemperature = 20;
inline constexpr std::size_t kHumidity = 24;
inline constexpr std::size_t kPressure = 28;
inline constexpr std::size_t kSeaLevelPressure = 32;
inline constexpr std::size_t kReserved = 36;
inline constexpr std::size_t kChecksum = 40;
} // namespace frame

using FrameBytes = std::array<std::uint8_t, frame::kSize>;

inline std::uint16_t frameChecksum(const std::uint8_t* bytes) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < frame::kChecksummedBytes; ++i) {
        sum = static_cast<std::uint16_t>(sum + bytes[i]);
    }
    return sum;
}

inline std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline float readFloat(const std::uint8_t* p) {
    const std::uint32_t bits = readU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// All eight exponent bits set: an infinity or a NaN.
inline bool isNonFiniteFloatBits(std::uint32_t bits) {
    return (bits & 0x7F800000u) == 0x7F800000u;
}

// The largest magnitude a motion field (composite acceleration, velocity, the
// three axes) may carry. Far beyond any real shaking (gravity is 980 gal), yet
// a misaligned frame that passes the 16-bit sum by chance often carries one
// such value: taken, it shows an intensity near 73 for 16 s and records it.
inline constexpr float kMotionLimit = 10000.0f;

// A finite float of at most kMotionLimit in magnitude. Comparing the bits
// without the sign orders them as the magnitudes, and every infinity and NaN
// lies above the limit's bits.
inline bool isPlausibleMotionBits(std::uint32_t bits) {
    constexpr std::uint32_t kLimitBits = std::bit_cast<std::uint32_t>(kMotionLimit);
    return (bits & 0x7FFFFFFFu) <= kLimitBits;
}

inline void writeU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline void writeFloat(std::uint8_t* p, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeU32(p, bits);
}

// The values a sensor puts in one frame, in frame order.
struct FrameValues {
    float sensorSiGal = 0.0f;
    float sensorVelocity = 0.0f;
    float accelX = 0.0f;
    float accelY = 0.0f;
    float accelZ = 0.0f;
    float temperature = 0.0f;
    float humidity = 0.0f;
    float pressure = 0.0f;
    float seaLevelPressure = 0.0f;
    std::uint32_t reserved = 0;
};

// Rewrites the checksum after a frame's bytes were changed on purpose.
inline void sealFrame(FrameBytes& bytes) {
    const std::uint16_t sum = frameChecksum(bytes.data());
    bytes[frame::kChecksum] = static_cast<std::uint8_t>(sum);
    bytes[frame::kChecksum + 1] = static_cast<std::uint8_t>(sum >> 8);
}

// Builds a complete frame with its checksum (simulators and tests).
inline FrameBytes encodeFrame(const FrameValues& v) {
    FrameBytes out{};
    writeFloat(&out[frame::kSensorSiGal], v.sensorSiGal);
    writeFloat(&out[frame::kSensorVelocity], v.sensorVelocity);
    writeFloat(&out[frame::kAccelX], v.accelX);
    writeFloat(&out[frame::kAccelY], v.accelY);
    writeFloat(&out[frame::kAccelZ], v.accelZ);
    writeFloat(&out[frame::kTemperature], v.temperature);
    writeFloat(&out[frame::kHumidity], v.humidity);
    writeFloat(&out[frame::kPressure], v.pressure);
    writeFloat(&out[frame::kSeaLevelPressure], v.seaLevelPressure);
    writeU32(&out[frame::kReserved], v.reserved);
    sealFrame(out);
    return out;
}

} // namespace kelvora
