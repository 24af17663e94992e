// kelvora-frame-audit: counts the frames a running monitor loses, from the
// outside. It reads the simulator's stream (the same seed and quakes as the
// live simulator, written with --output), then follows the acceleration
// section of the shared block: every copy holds the axis values of five
// consecutive good frames, and the noise makes each frame's three floats
// unique in the stream, so each published sample names the frame it came from.
// Frames the simulator sent that never show up between two samples were lost.
#include "core/FrameAssembler.h"
#include "core/SensorFrame.h"

#include <kelvora/publication_block.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using namespace kelvora;

const char* const kUsage =
    "Usage: kelvora-frame-audit --stream FILE|- [--seconds N] [--wait-start N] [--name NAME]\n"
    "Reads the simulator's stream, then follows the monitor's shared block and\n"
    "matches every published acceleration sample to its frame of the stream.\n"
    "\n"
    "  --stream FILE|-   the stream the live simulator sends (kelvora-sim with the\n"
    "                    same --seed and --quake options and --output)\n"
    "  --seconds N       stop N seconds after the first sample (default: at SIGTERM)\n"
    "  --wait-start N    give up when no sample arrives within N seconds (default 60)\n"
    "  --name NAME       the block's name (default " KELVORA_SHM_NAME ")\n"
    "\n"
    "Prints 'indexed frames=N', then 'started stream_frame=N' at the first\n"
    "sample, one 'minute=M ...' line a minute and a 'summary ...' line at the end:\n"
    "lost counts frames certainly lost; doubt those in gaps of whole copies, which\n"
    "were either lost or published and overwritten before we looked (late_gaps:\n"
    "gaps while we had not looked for over 40 ms). weather_lost counts the frames\n"
    "lost between the first and the last environment section seen (written every\n"
    "hundredth good frame), exactly while fewer than 50 go in one interval.\n"
    "Exit status 3 when no sample arrived in time, 2 on bad options or input.\n";

volatile std::sig_atomic_t gStop = 0;

void onStop(int) {
    gStop = 1;
}

double monotonicSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void sleepMilliseconds(long ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    ::nanosleep(&t, nullptr);
}

struct SampleKey {
    std::uint32_t x, y, z;
    bool operator==(const SampleKey&) const = default;
};

struct SampleKeyHash {
    std::size_t operator()(const SampleKey& k) const {
        std::uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
        h ^= (h >> 29) + k.y * 0xBF58476D1CE4E5B9ull;
        h ^= (h >> 31) + k.z * 0x94D049BB133111EBull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

std::uint32_t floatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The weather values of one frame; they drift, but all four rarely stand
// still at once.
struct WeatherKey {
    std::uint32_t temperature, humidity, pressure, seaLevelPressure;
    bool operator==(const WeatherKey&) const = default;
};

struct WeatherKeyHash {
    std::size_t operator()(const WeatherKey& k) const {
        return SampleKeyHash{}(
            SampleKey{k.temperature ^ k.seaLevelPressure, k.humidity, k.pressure});
    }
};

constexpr std::int64_t kDuplicate = -1;

// Good frame n of the stream by its axis values; a value that occurs twice
// names no frame.
using FrameIndex = std::unordered_map<SampleKey, std::int64_t, SampleKeyHash>;
using WeatherIndex = std::unordered_map<WeatherKey, std::int64_t, WeatherKeyHash>;

template <typename Map, typename Key> void addKey(Map& map, const Key& key, std::int64_t frame) {
    const auto [it, inserted] = map.try_emplace(key, frame);
    if (!inserted) {
        it->second = kDuplicate;
    }
}

bool readStream(int fd, FrameIndex& index, WeatherIndex& weather, std::int64_t& frames) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    // Decoded as the monitor decodes, so a faulty stream gives the same frames.
    FrameAssembler assembler;
    frames = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const AssembleResult r = assembler.pushRead(ReadResult::of(bytes[i]));
        if (r == AssembleResult::BadFrame) {
            assembler.skipNext(i + 1 < bytes.size() ? ReadResult::of(bytes[++i])
                                                    : ReadResult::none());
        } else if (r == AssembleResult::GoodFrame) {
            const std::uint8_t* f = assembler.frame().data();
            const SampleKey key{floatBits(readFloat(f + frame::kAccelX)),
                                floatBits(readFloat(f + frame::kAccelY)),
                                floatBits(readFloat(f + frame::kAccelZ))};
            addKey(index, key, frames);
            addKey(weather,
                   WeatherKey{floatBits(readFloat(f + frame::kTemperature)),
                              floatBits(readFloat(f + frame::kHumidity)),
                              floatBits(readFloat(f + frame::kPressure)),
                              floatBits(readFloat(f + frame::kSeaLevelPressure))},
                   frames);
            ++frames;
        }
    }
    return true;
}

// What the samples seen so far say.
struct Audit {
    static constexpr int kSamples = KELVORA_SHM_SAMPLES - 1; // element 5 stays 0.0

    std::int64_t copies = 0;
    std::int64_t samples = 0;
    std::int64_t first = -1;
    std::int64_t last = -1; // stream frame of the last sample matched
    std::int64_t lost = 0;  // frames certainly lost
    std::int64_t doubt = 0; // frames in gaps of whole copies: missed copies, or lost
    std::int64_t doubtGaps = 0;
    std::int64_t lateGaps = 0;  // of those, gaps while we ourselves were late
    std::int64_t unmatched = 0; // samples that name no frame of the stream
    std::int64_t backwards = 0; // samples of a frame at or before the last one
    std::int64_t torn = 0;      // copies overwritten while being read
    double maxPollGap = 0.0;
    // The environment section is written at every hundredth good frame: two
    // of them a hundred good frames apart settle gaps of whole copies.
    std::int64_t firstWeather = -1;
    std::int64_t lastWeather = -1;
    std::int64_t weatherLost = 0;
    std::int64_t weatherIntervals = 0;

    void addWeather(std::int64_t n) {
        if (n < 0) {
            return;
        }
        if (lastWeather >= 0 && n > lastWeather) {
            const std::int64_t distance = n - lastWeather;
            // Fewer than 50 frames lost in one interval, or the copies around
            // them would show it.
            const std::int64_t hundreds = (distance + 50) / 100;
            if (hundreds >= 1) {
                weatherLost += distance - 100 * hundreds;
                weatherIntervals += hundreds;
            }
        }
        if (firstWeather < 0) {
            firstWeather = n;
        }
        lastWeather = n;
    }

    // One copy: five samples of consecutive good frames, oldest first.
    // `late`: we did not look for longer than copies are apart, so whole
    // copies may have passed unseen.
    void addCopy(const std::int64_t (&frame)[kSamples], bool late) {
        ++copies;
        for (int k = 0; k < kSamples; ++k) {
            ++samples;
            const std::int64_t n = frame[k];
            if (n < 0) {
                ++unmatched;
                last = -1;
                continue;
            }
            if (first < 0) {
                first = n;
            }
            if (last >= 0) {
                const std::int64_t gap = n - last - 1;
                if (gap < 0) {
                    ++backwards;
                } else if (k > 0) {
                    lost += gap; // inside one copy the good frames are consecutive
                } else if (gap > 0) {
                    // Between copies the good frames number a multiple of five:
                    // what is left over was lost; whole copies may have been
                    // published and overwritten before we looked.
                    lost += gap % kSamples;
                    if (gap >= kSamples) {
                        doubt += gap - gap % kSamples;
                        ++doubtGaps;
                        lateGaps += late ? 1 : 0;
                    }
                }
            }
            if (n > last) {
                last = n;
            }
        }
    }

    void print(const char* label) const {
        std::printf(
            "%s copies=%lld frames_seen=%lld first=%lld last=%lld span=%lld lost=%lld "
            "doubt=%lld doubt_gaps=%lld late_gaps=%lld unmatched=%lld backwards=%lld torn=%lld "
            "max_poll_gap_ms=%.1f weather_first=%lld weather_last=%lld weather_intervals=%lld "
            "weather_lost=%lld\n",
            label, static_cast<long long>(copies), static_cast<long long>(samples),
            static_cast<long long>(first), static_cast<long long>(last),
            static_cast<long long>(first >= 0 ? last - first + 1 : 0), static_cast<long long>(lost),
            static_cast<long long>(doubt), static_cast<long long>(doubtGaps),
            static_cast<long long>(lateGaps), static_cast<long long>(unmatched),
            static_cast<long long>(backwards), static_cast<long long>(torn), maxPollGap * 1e3,
            static_cast<long long>(firstWeather), static_cast<long long>(lastWeather),
            static_cast<long long>(weatherIntervals), static_cast<long long>(weatherLost));
    }
};

// The reader's side of the block's protocol, every access one atomic operation.
class Block {
public:
    explicit Block(std::uint8_t* base) : base_(base) {}
    std::uint8_t byte(int offset) const {
        return std::atomic_ref<std::uint8_t>(base_[offset]).load();
    }
    double real(int offset) const {
        return std::atomic_ref<double>(*reinterpret_cast<double*>(base_ + offset)).load();
    }
    void clear(int offset) { std::atomic_ref<std::uint8_t>(base_[offset]).store(0); }

private:
    std::uint8_t* base_;
};

bool parseSeconds(const char* text, double& out) {
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && ptr == end && out >= 0.0;
}

} // namespace

int main(int argc, char** argv) {
    std::string streamPath;
    std::string name = KELVORA_SHM_NAME;
    double seconds = 0.0;
    double waitStart = 60.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "kelvora-frame-audit: %s needs a value\n", arg.c_str());
            return 2;
        }
        const char* value = argv[++i];
        if (arg == "--stream") {
            streamPath = value;
        } else if (arg == "--name") {
            name = value[0] == '/' ? value : std::string("/") + value;
        } else if (arg == "--seconds" && parseSeconds(value, seconds)) {
        } else if (arg == "--wait-start" && parseSeconds(value, waitStart)) {
        } else {
            std::fprintf(stderr, "kelvora-frame-audit: bad option %s %s\n%s", arg.c_str(), value,
                         kUsage);
            return 2;
        }
    }
    if (streamPath.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const int streamFd =
        streamPath == "-" ? STDIN_FILENO : ::open(streamPath.c_str(), O_RDONLY | O_CLOEXEC);
    FrameIndex index;
    WeatherIndex weather;
    std::int64_t frames = 0;
    if (streamFd < 0 || !readStream(streamFd, index, weather, frames)) {
        std::fprintf(stderr, "kelvora-frame-audit: cannot read %s: %s\n", streamPath.c_str(),
                     std::strerror(errno));
        return 2;
    }
    std::int64_t duplicates = 0;
    for (const auto& entry : index) {
        duplicates += entry.second == kDuplicate ? 1 : 0;
    }
    std::printf("indexed frames=%lld duplicate_values=%lld\n", static_cast<long long>(frames),
                static_cast<long long>(duplicates));

    std::signal(SIGINT, onStop);
    std::signal(SIGTERM, onStop);

    // The block appears when the monitor's window opens.
    const double waitBegan = monotonicSeconds();
    std::uint8_t* base = nullptr;
    while (base == nullptr && !gStop && monotonicSeconds() - waitBegan < waitStart) {
        const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
        if (fd >= 0) {
            void* p = ::mmap(nullptr, KELVORA_SHM_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ::close(fd);
            if (p != MAP_FAILED) {
                base = static_cast<std::uint8_t*>(p);
                break;
            }
        }
        sleepMilliseconds(20);
    }
    if (base == nullptr) {
        std::printf("no-start reason=no-block\n");
        return 3;
    }
    Block block(base);

    Audit audit;
    double started = 0.0;
    double lastPoll = 0.0;
    double longestWait = 0.0; // between two looks, since the last copy
    int minutesPrinted = 0;
    while (!gStop) {
        const double now = monotonicSeconds();
        if (started == 0.0 && now - waitBegan > waitStart) {
            std::printf("no-start reason=no-sample\n");
            return 3;
        }
        if (started > 0.0) {
            if (now - lastPoll > audit.maxPollGap) {
                audit.maxPollGap = now - lastPoll;
            }
            if (now - lastPoll > longestWait) {
                longestWait = now - lastPoll;
            }
            while (now - started >= 60.0 * (minutesPrinted + 1)) {
                ++minutesPrinted;
                const std::string label = "minute=" + std::to_string(minutesPrinted);
                audit.print(label.c_str());
            }
            if (seconds > 0.0 && now - started >= seconds) {
                break;
            }
        }
        lastPoll = now;
        if (block.byte(KELVORA_SHM_ACCEL_BUSY) == 0 &&
            block.byte(KELVORA_SHM_ACCEL_UPDATED) == KELVORA_SHM_UPDATED) {
            block.clear(KELVORA_SHM_ACCEL_UPDATED);
            std::int64_t frame[Audit::kSamples];
            for (int k = 0; k < Audit::kSamples; ++k) {
                const auto value = [&](int axis) {
                    return floatBits(static_cast<float>(block.real(axis + 8 * k)));
                };
                const SampleKey key{value(KELVORA_SHM_ACCEL_X), value(KELVORA_SHM_ACCEL_Y),
                                    value(KELVORA_SHM_ACCEL_Z)};
                const auto it = index.find(key);
                frame[k] = it == index.end() ? kDuplicate : it->second;
            }
            if (block.byte(KELVORA_SHM_ACCEL_BUSY) != 0 ||
                block.byte(KELVORA_SHM_ACCEL_UPDATED) != 0) {
                ++audit.torn; // a new copy overlapped ours; it is read next
            } else {
                // Copies come every 50 ms while the line runs evenly.
                audit.addCopy(frame, longestWait > 0.040);
                longestWait = 0.0;
                if (started == 0.0) {
                    started = monotonicSeconds();
                    std::printf("started stream_frame=%lld\n", static_cast<long long>(frame[0]));
                }
            }
        }
        // The four values first, then the status bytes: read again when a
        // new write came in meanwhile.
        if (started > 0.0 && block.byte(KELVORA_SHM_ENV_UPDATED) == KELVORA_SHM_UPDATED) {
            block.clear(KELVORA_SHM_ENV_UPDATED);
            const auto value = [&](int offset) {
                return floatBits(static_cast<float>(block.real(offset)));
            };
            const WeatherKey key{value(KELVORA_SHM_TEMPERATURE), value(KELVORA_SHM_HUMIDITY),
                                 value(KELVORA_SHM_PRESSURE),
                                 value(KELVORA_SHM_SEA_LEVEL_PRESSURE)};
            if (block.byte(KELVORA_SHM_ENV_UPDATED) == 0) {
                const auto it = weather.find(key);
                audit.addWeather(it == weather.end() ? kDuplicate : it->second);
            }
        }
        sleepMilliseconds(2);
    }
    audit.print("summary");
    return 0;
}
