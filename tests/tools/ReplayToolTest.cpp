// kelvora-replay run as a child process on generated streams: its CSV against
// the literal model of the computation, its summary line, and how it fails.
#include "ReferenceModel.h"
#include "SyntheticSensor.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using reference::ReferenceFrame;
using reference::ReferenceModel;
using reference::ReferenceSettings;

constexpr const char* kReplayPath = KELVORA_REPLAY_PATH;
constexpr const char* kHeader = "frame,frameIndex,siGalComputed,siGal,jmaAccel,jmaIntensity,"
                                "pgaVector,pgv,mmi,intensity,class,sounds";

// Each test gets a folder of its own for its input files and the child's
// standard output and error.
class ReplayTool : public ::testing::Test {
protected:
    fs::path writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << path;
        return path;
    }

    ToolRun run(const std::vector<std::string>& args, const fs::path& stdinPath = "/dev/null") {
        ++runs_;
        std::vector<std::string> argv{kReplayPath};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildOptions options;
        options.in = Redirect::file(stdinPath);
        options.out = Redirect::file(dir_ / ("stdout." + std::to_string(runs_)));
        options.err = Redirect::file(dir_ / ("stderr." + std::to_string(runs_)));
        return runTool(argv, options);
    }

    TemporaryFolder temporary_{"kelvora-replay"};
    const fs::path dir_ = temporary_.path();

private:
    int runs_ = 0;
};

struct ModelRun {
    std::vector<ReferenceFrame> frames;
    std::uint32_t goodFrames = 0;
    std::uint32_t badFrames = 0;
};

// One reception run over the whole stream, as the tool makes it.
ModelRun runModel(const std::vector<std::uint8_t>& bytes, const ReferenceSettings& settings) {
    ReferenceModel model;
    model.settings = settings;
    model.startReception();
    ModelRun result;
    for (std::uint8_t b : bytes) {
        model.feed(b, result.frames);
    }
    result.goodFrames = model.goodFrameCount();
    result.badFrames = model.badFrameCount();
    return result;
}

bool same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

std::optional<double> parseDouble(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template <typename Int> std::optional<Int> parseInt(const std::string& text) {
    Int value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) {
        text += (text.empty() ? "" : " ") + p;
    }
    return text;
}

// The first column of a CSV line that disagrees with the model, or "".
std::string firstDifference(const std::string& line, std::uint64_t frame,
                            const ReferenceFrame& ref) {
    const std::vector<std::string> fields = split(line, ',');
    if (fields.size() != 12) {
        return "has " + std::to_string(fields.size()) + " columns: " + line;
    }
    std::ostringstream out;
    out.precision(17);
    auto checkInt = [&](const char* name, const std::string& field, std::int64_t expected) {
        const auto value = parseInt<std::int64_t>(field);
        if (out.tellp() == 0 && (!value || *value != expected)) {
            out << name << ": tool '" << field << "', model " << expected;
        }
    };
    auto checkDouble = [&](const char* name, const std::string& field, double expected) {
        const auto value = parseDouble(field);
        if (out.tellp() == 0 && (!value || !same(*value, expected))) {
            out << name << ": tool '" << field << "', model " << expected;
        }
    };
    checkInt("frame", fields[0], static_cast<std::int64_t>(frame));
    checkInt("frameIndex", fields[1], ref.frameIndex);
    checkDouble("siGalComputed", fields[2], ref.siGalComputed);
    checkDouble("siGal", fields[3], ref.siGal);
    checkDouble("jmaAccel", fields[4], ref.jmaAccel);
    checkDouble("jmaIntensity", fields[5], ref.jmaIntensity);
    checkDouble("pgaVector", fields[6], ref.pgaVector);
    checkDouble("pgv", fields[7], ref.pgv);
    checkDouble("mmi", fields[8], ref.mmi);
    checkDouble("intensity", fields[9], ref.intensity);
    checkInt("class", fields[10], ref.intensityClass);
    if (out.tellp() == 0 && fields[11] != joined(ref.sounds)) {
        out << "sounds: tool '" << fields[11] << "', model '" << joined(ref.sounds) << "'";
    }
    return out.str();
}

bool samePrintedColumns(const std::vector<ReferenceFrame>& a,
                        const std::vector<ReferenceFrame>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const ReferenceFrame& x, const ReferenceFrame& y) {
                          return x.frameIndex == y.frameIndex &&
                                 same(x.siGalComputed, y.siGalComputed) && same(x.siGal, y.siGal) &&
                                 same(x.jmaAccel, y.jmaAccel) &&
                                 same(x.jmaIntensity, y.jmaIntensity) &&
                                 same(x.pgaVector, y.pgaVector) && same(x.pgv, y.pgv) &&
                                 same(x.mmi, y.mmi) && same(x.intensity, y.intensity) &&
                                 x.intensityClass == y.intensityClass && x.sounds == y.sounds;
                      });
}

struct StreamCase {
    const char* name;
    std::uint64_t seed;
    double seconds;
    std::vector<sim::QuakeEvent> events;
    sim::LineFaults faults;
    std::vector<std::string> options;
    ReferenceSettings settings; // what the options select
    // What the stream must show for the case to test what its name says.
    int reachesClass = 0;
    bool hasBadFrames = false;
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplayMatchesModel : public ReplayTool, public ::testing::WithParamInterface<StreamCase> {
protected:
    void SetUp() override {
        ReplayTool::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        const StreamCase& c = GetParam();
        bytes_ = sim::makeStream(c.seed, c.seconds, c.events, c.faults);
        input_ = writeFile("stream.bin", bytes_);
        model_ = runModel(bytes_, c.settings);
    }

    std::vector<std::string> argsWith(std::vector<std::string> extra, const std::string& input) {
        std::vector<std::string> args = GetParam().options;
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(input);
        return args;
    }

    std::vector<std::uint8_t> bytes_;
    fs::path input_;
    ModelRun model_;
};

TEST_P(ReplayMatchesModel, CsvMatchesTheModelFrameByFrame) {
    const StreamCase& c = GetParam();
    // The stream covers what the case is about.
    ASSERT_FALSE(model_.frames.empty());
    int maxClass = 0;
    for (const ReferenceFrame& f : model_.frames) {
        maxClass = std::max(maxClass, f.intensityClass);
    }
    EXPECT_GE(maxClass, c.reachesClass);
    EXPECT_EQ(model_.badFrames > 0, c.hasBadFrames);
    if (c.reachesClass > 0) {
        EXPECT_TRUE(std::any_of(model_.frames.begin(), model_.frames.end(),
                                [](const ReferenceFrame& f) { return !f.sounds.empty(); }));
    }
    // An option the tool ignored would go unnoticed on a stream where it makes no difference.
    const ReferenceSettings defaults{};
    const ReferenceSettings& s = c.settings;
    if (s.jmaWindowMode != defaults.jmaWindowMode || s.intensityScale != defaults.intensityScale ||
        s.useSensorSiGal != defaults.useSensorSiGal ||
        s.useSensorVelocity != defaults.useSensorVelocity) {
        EXPECT_FALSE(samePrintedColumns(runModel(bytes_, defaults).frames, model_.frames));
    }

    const ToolRun tool = run(argsWith({}, input_.string()));
    ASSERT_EQ(tool.exitStatus, 0) << tool.err;
    EXPECT_EQ(tool.err, "");
    ASSERT_FALSE(tool.out.empty());
    ASSERT_EQ(tool.out.back(), '\n');
    const std::vector<std::string> lines = linesOf(tool.out);
    ASSERT_EQ(lines.front(), kHeader);
    ASSERT_EQ(lines.size() - 1, model_.frames.size());
    for (std::size_t i = 0; i < model_.frames.size(); ++i) {
        const std::string difference = firstDifference(lines[i + 1], i + 1, model_.frames[i]);
        ASSERT_EQ(difference, "") << "good frame " << i + 1;
    }
    RecordProperty("frames", static_cast<int>(model_.frames.size()));
    RecordProperty("maxClass", maxClass);
}

TEST_P(ReplayMatchesModel, StandardInputGivesTheSameOutputAsTheFile) {
    const ToolRun fromFile = run(argsWith({}, input_.string()));
    const ToolRun fromStdin = run(argsWith({}, "-"), input_);
    ASSERT_EQ(fromFile.exitStatus, 0) << fromFile.err;
    ASSERT_EQ(fromStdin.exitStatus, 0) << fromStdin.err;
    EXPECT_EQ(fromStdin.err, "");
    EXPECT_EQ(linesOf(fromStdin.out).size(), model_.frames.size() + 1);
    EXPECT_TRUE(fromStdin.out == fromFile.out) << "standard input and file outputs differ";
}

TEST_P(ReplayMatchesModel, SummaryLineCountsFramesAndMaximaLikeTheModel) {
    ASSERT_FALSE(model_.frames.empty());
    double maxJma = model_.frames.front().jmaIntensity;
    double maxMmi = model_.frames.front().mmi;
    for (const ReferenceFrame& f : model_.frames) {
        maxJma = std::max(maxJma, f.jmaIntensity);
        maxMmi = std::max(maxMmi, f.mmi);
    }
    char expectedJma[32];
    char expectedMmi[32];
    std::snprintf(expectedJma, sizeof expectedJma, "%.1f", maxJma);
    std::snprintf(expectedMmi, sizeof expectedMmi, "%.1f", maxMmi);

    const ToolRun tool = run(argsWith({"--summary"}, input_.string()));
    ASSERT_EQ(tool.exitStatus, 0) << tool.err;
    EXPECT_EQ(tool.out, "");
    const std::vector<std::string> lines = linesOf(tool.err);
    ASSERT_EQ(lines.size(), 1u) << tool.err;
    ASSERT_EQ(tool.err.back(), '\n');

    const std::vector<std::string> fields = split(lines[0], ' ');
    const std::vector<std::string> keys = {"frames", "bad",     "bytes",  "seconds",
                                           "fps",    "max_jma", "max_mmi"};
    ASSERT_EQ(fields.size(), keys.size()) << lines[0];
    std::vector<std::string> values;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(fields[i].substr(0, keys[i].size() + 1), keys[i] + "=") << lines[0];
        values.push_back(fields[i].substr(keys[i].size() + 1));
    }
    EXPECT_EQ(parseInt<std::uint64_t>(values[0]), model_.goodFrames);
    EXPECT_EQ(parseInt<std::uint64_t>(values[1]), model_.badFrames);
    EXPECT_EQ(parseInt<std::uint64_t>(values[2]), fs::file_size(input_));
    for (std::size_t i : {3u, 4u}) {
        const auto value = parseDouble(values[i]);
        EXPECT_TRUE(value && *value >= 0.0) << keys[i] << "=" << values[i];
    }
    EXPECT_EQ(values[5], expectedJma);
    EXPECT_EQ(values[6], expectedMmi);
}

const sim::QuakeEvent kModerate{4.0, 10.0, 40.0};
const sim::QuakeEvent kStrong{4.0, 10.0, 400.0};

INSTANTIATE_TEST_SUITE_P(
    Streams, ReplayMatchesModel,
    ::testing::Values(
        StreamCase{"Quiet", 21, 12.0, {}, {}, {}, {}},
        StreamCase{"ModerateEvent", 22, 18.0, {kModerate}, {}, {}, {}, 1},
        StreamCase{"ExplicitDefaults",
                   23,
                   18.0,
                   {kModerate},
                   {},
                   {"--window", "10", "--scale", "jma"},
                   {},
                   1},
        StreamCase{"StrongEventMercalli",
                   24,
                   18.0,
                   {kStrong},
                   {},
                   {"--scale", "mmi"},
                   {.intensityScale = 1},
                   5},
        StreamCase{"SixtySecondWindow",
                   25,
                   20.0,
                   {kStrong},
                   {},
                   {"--window", "60"},
                   {.jmaWindowMode = 1},
                   5},
        StreamCase{"SensorOwnValues",
                   26,
                   18.0,
                   {kStrong},
                   {},
                   {"--sensor-sigal", "--sensor-velocity"},
                   {.useSensorSiGal = 1, .useSensorVelocity = 1},
                   5},
        StreamCase{
            "NoisyLine",
            27,
            18.0,
            {kStrong},
            {.corruptRate = 0.0003, .dropRate = 0.0003, .nanRate = 0.02, .startMidFrame = true},
            {},
            {},
            5,
            true},
        StreamCase{
            "NonFiniteSensorFieldsMercalliSixtySecond",
            28,
            18.0,
            {kModerate},
            {.nanRate = 0.2},
            {"--sensor-velocity", "--scale", "mmi", "--sensor-sigal", "--window", "60"},
            {.jmaWindowMode = 1, .intensityScale = 1, .useSensorSiGal = 1, .useSensorVelocity = 1},
            1}),
    CaseName());

// Inputs that never hold a good frame: the header and nothing else.
struct NoFrameCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

void PrintTo(const NoFrameCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<std::uint8_t> firstBytesOfAStream(std::size_t count) {
    auto bytes = sim::makeStream(31, 1.0, {});
    bytes.resize(count);
    return bytes;
}

std::vector<std::uint8_t> textGarbage() {
    const std::string line = "this is not a sensor stream; ";
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < 4200) {
        bytes.insert(bytes.end(), line.begin(), line.end());
    }
    return bytes;
}

class ReplayWithoutGoodFrames : public ReplayTool,
                                public ::testing::WithParamInterface<NoFrameCase> {};

TEST_P(ReplayWithoutGoodFrames, PrintsTheHeaderOnly) {
    const NoFrameCase& c = GetParam();
    ASSERT_TRUE(runModel(c.bytes, {}).frames.empty());
    const fs::path input = writeFile("input.bin", c.bytes);
    const ToolRun tool = run({input.string()});
    EXPECT_EQ(tool.exitStatus, 0) << tool.err;
    EXPECT_EQ(tool.out, std::string(kHeader) + "\n");
    EXPECT_EQ(tool.err, "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, ReplayWithoutGoodFrames,
                         ::testing::Values(NoFrameCase{"Empty", {}},
                                           NoFrameCase{"OneByteShortOfAFrame",
                                                       firstBytesOfAStream(41)},
                                           NoFrameCase{"Garbage", textGarbage()}),
                         CaseName());

// "@stream" stands for a good input file, "@dir" for a folder and "@missing"
// for a path that does not exist, so that each command line has one fault.
struct BadCommandLine {
    const char* name;
    std::vector<std::string> args;
    std::string messageHas = {};
};

void PrintTo(const BadCommandLine& c, std::ostream* os) {
    *os << c.name;
}

class ReplayRejects : public ReplayTool, public ::testing::WithParamInterface<BadCommandLine> {};

TEST_P(ReplayRejects, WithStatusTwoAndOneLineOnStandardError) {
    const fs::path stream = writeFile("stream.bin", sim::makeStream(41, 2.0, {}));
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args) {
        if (a == "@stream") {
            args.push_back(stream.string());
        } else if (a == "@dir") {
            args.push_back(dir_.string());
        } else if (a == "@missing") {
            args.push_back((dir_ / "missing.bin").string());
        } else {
            args.push_back(a);
        }
    }
    const ToolRun tool = run(args);
    EXPECT_EQ(tool.exitStatus, 2);
    EXPECT_EQ(tool.out, "");
    EXPECT_EQ(linesOf(tool.err).size(), 1u) << tool.err;
    EXPECT_TRUE(!tool.err.empty() && tool.err.back() == '\n') << tool.err;
    EXPECT_NE(tool.err.find(GetParam().messageHas), std::string::npos) << tool.err;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ReplayRejects,
    ::testing::Values(
        BadCommandLine{"MissingFile", {"@missing"}}, BadCommandLine{"DirectoryAsInput", {"@dir"}},
        BadCommandLine{"DirectoryAsSummaryInput", {"--summary", "@dir"}},
        BadCommandLine{"UnknownOption", {"--verbose", "@stream"}},
        BadCommandLine{"WindowThirty", {"--window", "30", "@stream"}},
        BadCommandLine{"ScaleFoo", {"--scale", "foo", "@stream"}},
        BadCommandLine{"WindowWithoutValue", {"@stream", "--window"}},
        BadCommandLine{"ScaleWithoutValue", {"@stream", "--scale"}},
        BadCommandLine{"TwoInputs", {"@stream", "@stream"}}, BadCommandLine{"NoInput", {}},
        BadCommandLine{"OptionsButNoInput", {"--summary", "--window", "60"}},
        BadCommandLine{"RecordDirMissing", {"--record-dir", "@missing", "@stream"}},
        BadCommandLine{"RecordDirIsAFile", {"--record-dir", "@stream", "@stream"}},
        BadCommandLine{"RecordDirEmpty", {"--record-dir", "", "@stream"}},
        BadCommandLine{"RecordDirWithoutValue", {"@stream", "--record-dir"}},
        BadCommandLine{"ClockNotATime", {"--record-dir", "@dir", "--clock", "noon", "@stream"}},
        BadCommandLine{"ClockTwentyNinthOfFebruary2026",
                       {"--record-dir", "@dir", "--clock", "2026-02-29 12:00:00.000", "@stream"}},
        BadCommandLine{"ClockHourTwentyFour",
                       {"--record-dir", "@dir", "--clock", "2026-01-01 24:00:00.000", "@stream"}},
        BadCommandLine{"ClockTwoDigitMilliseconds",
                       {"--record-dir", "@dir", "--clock", "2026-01-01 12:00:00.43", "@stream"}},
        BadCommandLine{"ClockInTheYearZero",
                       {"--record-dir", "@dir", "--clock", "0000-01-01 00:00:00", "@stream"},
                       "1970 to 9999"},
        BadCommandLine{"ClockJustBefore1970",
                       {"--record-dir", "@dir", "--clock", "1969-12-31 23:59:59.999", "@stream"},
                       "1970 to 9999"},
        BadCommandLine{"RecordStartNotANumber",
                       {"--record-dir", "@dir", "--record-start", "high", "@stream"}},
        BadCommandLine{"RecordStopInfinite",
                       {"--record-dir", "@dir", "--record-stop", "inf", "@stream"}},
        BadCommandLine{"RecordMinSecondsNegative",
                       {"--record-dir", "@dir", "--record-min-seconds", "-5", "@stream"}},
        BadCommandLine{"RecordMinSecondsFraction",
                       {"--record-dir", "@dir", "--record-min-seconds", "2.5", "@stream"}},
        BadCommandLine{"RecordVelocityWithoutValue",
                       {"--record-dir", "@dir", "@stream", "--record-velocity"}},
        BadCommandLine{"RecorderSettingWithoutRecordDir", {"--record-start", "3.0", "@stream"}},
        BadCommandLine{"ClockWithoutRecordDir", {"--clock", "2026-01-01 00:00:05.437", "@stream"}}),
    CaseName());

// Standard streams that fail: an input that cannot be read leaves standard
// output empty, as a bad file name does; an output that cannot be written is
// status 1 with a message, not a silent loss.
enum class Input { Stream, Directory, WriteOnly };
enum class Output { File, Full };

struct StreamFailure {
    const char* name;
    std::vector<std::string> args; // "@stream" stands for a stream file
    Input in;
    Output out;
    Output err;
    int exitStatus;
    std::string messageHas; // on standard error
};

void PrintTo(const StreamFailure& c, std::ostream* os) {
    *os << c.name;
}

class ReplayStandardStreams : public ReplayTool,
                              public ::testing::WithParamInterface<StreamFailure> {};

TEST_P(ReplayStandardStreams, FailWithTheirStatusAndNothingHalfWritten) {
    const StreamFailure& c = GetParam();
    // Longer than the tool's output buffer, so that writes fail on the way too.
    const fs::path stream = writeFile("stream.bin", sim::makeStream(42, 10.0, {}));
    std::vector<std::string> argv{kReplayPath};
    for (const std::string& a : c.args) {
        argv.push_back(a == "@stream" ? stream.string() : a);
    }
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0) << std::strerror(errno);
    const int writeOnly = ::open(stream.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writeOnly, 0) << std::strerror(errno);
    ChildOptions options;
    options.in = c.in == Input::Stream      ? Redirect::file(stream)
                 : c.in == Input::Directory ? Redirect::file(dir_)
                                            : Redirect::descriptor(writeOnly);
    options.out =
        c.out == Output::Full ? Redirect::descriptor(full) : Redirect::file(dir_ / "stdout");
    options.err =
        c.err == Output::Full ? Redirect::descriptor(full) : Redirect::file(dir_ / "stderr");
    const ToolRun tool = runTool(argv, options);
    ::close(full);
    ::close(writeOnly);

    EXPECT_EQ(tool.exitStatus, c.exitStatus) << tool.err;
    EXPECT_EQ(tool.out, "");
    if (c.err == Output::File) {
        EXPECT_EQ(linesOf(tool.err).size(), 1u) << tool.err;
        EXPECT_TRUE(!tool.err.empty() && tool.err.back() == '\n') << tool.err;
        EXPECT_NE(tool.err.find(c.messageHas), std::string::npos) << tool.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReplayStandardStreams,
    ::testing::Values(StreamFailure{"DirectoryOnStandardInput",
                                    {"-"},
                                    Input::Directory,
                                    Output::File,
                                    Output::File,
                                    2,
                                    "cannot read standard input"},
                      StreamFailure{"DirectoryOnStandardInputWithSummary",
                                    {"--summary", "-"},
                                    Input::Directory,
                                    Output::File,
                                    Output::File,
                                    2,
                                    "cannot read standard input"},
                      StreamFailure{"UnreadableStandardInput",
                                    {"-"},
                                    Input::WriteOnly,
                                    Output::File,
                                    Output::File,
                                    2,
                                    "cannot read standard input"},
                      StreamFailure{"CsvOfAFileToAFullDevice",
                                    {"@stream"},
                                    Input::Stream,
                                    Output::Full,
                                    Output::File,
                                    1,
                                    "cannot write to standard output"},
                      StreamFailure{"CsvOfStandardInputToAFullDevice",
                                    {"-"},
                                    Input::Stream,
                                    Output::Full,
                                    Output::File,
                                    1,
                                    "cannot write to standard output"},
                      StreamFailure{"HelpToAFullDevice",
                                    {"--help"},
                                    Input::Stream,
                                    Output::Full,
                                    Output::File,
                                    1,
                                    "cannot write to standard output"},
                      StreamFailure{"SummaryToAFullDevice",
                                    {"--summary", "@stream"},
                                    Input::Stream,
                                    Output::File,
                                    Output::Full,
                                    1,
                                    ""},
                      // The summary goes to standard error: a full standard output is not used.
                      StreamFailure{"SummaryBesideAFullStandardOutput",
                                    {"--summary", "@stream"},
                                    Input::Stream,
                                    Output::Full,
                                    Output::File,
                                    0,
                                    "frames=1000 "}),
    CaseName());

// A simulated clock started late in 9999 outruns the recorder's four-digit
// years: recording stops after the last frame of 9999, with a message and
// status 1, while the CSV goes on to the end of the input. Recordings of one
// second after their ten of history follow each other, and one of them is
// half-way through when the year ends.
TEST_F(ReplayTool, ClockRunningPastTheYear9999StopsRecordingAtItsEnd) {
    const fs::path stream = writeFile("stream.bin", sim::makeStream(43, 20.0, {}));
    const fs::path folder = dir_ / "acc";
    fs::create_directories(folder);
    const ToolRun tool = run({"--record-dir", folder.string(), "--clock", "9999-12-31 23:59:55.500",
                              "--record-start", "-10", "--record-stop", "100",
                              "--record-min-seconds", "11", stream.string()});
    EXPECT_EQ(tool.exitStatus, 1) << tool.err;
    EXPECT_EQ(linesOf(tool.out).size(), 2001u);
    EXPECT_EQ(linesOf(tool.err).size(), 1u) << tool.err;
    EXPECT_NE(tool.err.find("9999"), std::string::npos) << tool.err;

    const std::regex name(R"(\d{8}-\d{6}(-\d+)?\.csv)");
    const std::regex stamp(R"(\d{4}-\d{2}-\d{2},\d{2}:\d{2}:\d{2},\d{3})");
    std::string latest;
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        ++files;
        const std::string file = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(file, name)) << file;
        // The header and the empty line after it, then the rows.
        const std::vector<std::string> lines = linesOf(readAll(entry.path()));
        for (std::size_t i = 2; i < lines.size(); ++i) {
            const std::string rowStamp = lines[i].substr(0, 23);
            if (!std::regex_match(rowStamp, stamp)) {
                ADD_FAILURE() << file << " line " << i + 1 << ": " << lines[i];
                break;
            }
            latest = std::max(latest, rowStamp);
        }
    }
    EXPECT_GE(files, 1u);
    EXPECT_EQ(latest, "9999-12-31,23:59:59,990");
}

TEST_F(ReplayTool, HelpPrintsUsageOnStandardOutput) {
    const ToolRun tool = run({"--help"});
    EXPECT_EQ(tool.exitStatus, 0);
    EXPECT_EQ(tool.err, "");
    EXPECT_EQ(tool.out.rfind("Usage: kelvora-replay", 0), 0u) << tool.out;
}

// --- Motion values beyond 10000 ---------------------------------------------------

// Frames whose motion fields carry values beyond 10000 in magnitude with a
// matching checksum, as a misaligned frame on a noisy line may: such a field
// keeps its previous value, so the replay, its classes and its recordings are
// exactly those of the stream in which the frame repeated the previous value.
// 10000 itself is a value like any other.
struct MotionValue {
    int frame;
    std::size_t offset;
    float value;
};

struct OutlierCase {
    const char* name;
    std::vector<std::string> options;
    ReferenceSettings settings; // what the options select
    // What the rule predicts: one frame of the sensor's own 10000 gal is not
    // among the 30 largest of the JMA window, so it starts nothing.
    bool quietIsRecorded;
    bool joltIsRecorded;
};

void PrintTo(const OutlierCase& c, std::ostream* os) {
    *os << c.name;
}

// The stream with `values` written into their frames, checksums resealed; with
// `previous`, each of those fields takes the previous frame's value instead.
std::vector<std::uint8_t> withMotionValues(std::vector<std::uint8_t> bytes,
                                           const std::vector<MotionValue>& values, bool previous) {
    for (const MotionValue& v : values) {
        const std::size_t at = static_cast<std::size_t>(v.frame) * frame::kSize;
        const float value = previous ? readFloat(&bytes[at - frame::kSize + v.offset]) : v.value;
        writeFloat(&bytes[at + v.offset], value);
        FrameBytes f;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), frame::kSize, f.begin());
        sealFrame(f);
        std::copy(f.begin(), f.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return bytes;
}

// Every recording in a folder: its name and its bytes.
std::map<std::string, std::string> recordingsIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
        files[e.path().filename().string()] = readAll(e.path());
    }
    return files;
}

class ReplayMotionLimit : public ReplayTool, public ::testing::WithParamInterface<OutlierCase> {
protected:
    struct Replayed {
        std::string csv;
        std::map<std::string, std::string> recordings;
    };

    // The stream through the tool with a recorder of its own, checked against
    // the model frame by frame.
    Replayed replay(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path input = writeFile(name + ".bin", bytes);
        const fs::path folder = dir_ / (name + "-recordings");
        fs::create_directory(folder);
        std::vector<std::string> args = GetParam().options;
        args.insert(args.end(), {"--record-dir", folder.string(), "--clock",
                                 "2026-03-01 12:00:00.000", input.string()});
        const ToolRun tool = run(args);
        EXPECT_EQ(tool.exitStatus, 0) << tool.err;
        const ModelRun model = runModel(bytes, GetParam().settings);
        const std::vector<std::string> lines = linesOf(tool.out);
        EXPECT_EQ(lines.size(), model.frames.size() + 1);
        for (std::size_t i = 0; i + 1 < lines.size() && i < model.frames.size(); ++i) {
            const std::string difference = firstDifference(lines[i + 1], i + 1, model.frames[i]);
            if (!difference.empty()) {
                ADD_FAILURE() << name << ", good frame " << i + 1 << ": " << difference;
                break;
            }
        }
        return {tool.out, recordingsIn(folder)};
    }

    // Twenty seconds of a quiet sensor.
    const std::vector<std::uint8_t> quiet_ = sim::makeStream(31, 20.0, {});
};

TEST_P(ReplayMotionLimit, ValuesBeyondItKeepThePreviousValueAndTenThousandIsTaken) {
    const std::vector<MotionValue> beyond = {
        {300, frame::kAccelX, 1e5f},           {500, frame::kAccelZ, 8e37f},
        {700, frame::kAccelY, -3e8f},          {900, frame::kAccelX, 10000.5f},
        {1100, frame::kSensorSiGal, 1e5f},     {1101, frame::kSensorVelocity, -3e8f},
        {1300, frame::kSensorSiGal, 10000.5f}, {1500, frame::kSensorVelocity, 8e37f},
        {1501, frame::kAccelZ, -10000.5f},
    };
    const Replayed damaged = replay("beyond", withMotionValues(quiet_, beyond, false));
    const Replayed repeated = replay("repeated", withMotionValues(quiet_, beyond, true));
    const OutlierCase& c = GetParam();
    EXPECT_TRUE(damaged.csv == repeated.csv) << "a value beyond the limit changed the replay";
    EXPECT_TRUE(damaged.recordings == repeated.recordings)
        << "a value beyond the limit changed the recordings";
    EXPECT_EQ(repeated.recordings.empty(), !c.quietIsRecorded);
    if (!c.quietIsRecorded) {
        for (const std::string& line : linesOf(damaged.csv)) {
            ASSERT_EQ(split(line, ',').size(), 12u) << line;
            if (line != kHeader) {
                ASSERT_EQ(split(line, ',')[10], "0") << "a class on a quiet sensor: " << line;
            }
        }
    }

    // 10000 in every motion field of one frame is a (huge) reading: taken,
    // it shows and records shaking.
    std::vector<MotionValue> atLimit;
    for (const std::size_t offset : {frame::kSensorSiGal, frame::kSensorVelocity, frame::kAccelX,
                                     frame::kAccelY, frame::kAccelZ}) {
        atLimit.push_back({1200, offset, offset == frame::kAccelY ? -10000.0f : 10000.0f});
    }
    const Replayed limit = replay("limit", withMotionValues(quiet_, atLimit, false));
    EXPECT_FALSE(limit.csv == repeated.csv) << "10000 was not taken";
    EXPECT_EQ(limit.recordings != repeated.recordings, c.joltIsRecorded);
}

INSTANTIATE_TEST_SUITE_P(Settings, ReplayMotionLimit,
                         ::testing::Values(OutlierCase{"Defaults", {}, {}, false, true},
                                           OutlierCase{
                                               "SensorOwnValues",
                                               {"--sensor-sigal", "--sensor-velocity"},
                                               {.useSensorSiGal = 1, .useSensorVelocity = 1},
                                               false,
                                               false},
                                           OutlierCase{"MercalliSixtySecond",
                                                       {"--scale", "mmi", "--window", "60"},
                                                       {.jmaWindowMode = 1, .intensityScale = 1},
                                                       false,
                                                       true}),
                         CaseName());

} // namespace
} // namespace kelvora::test
