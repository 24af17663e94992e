// kelvora-report run as a child process: a quake recorded by kelvora-replay
// --record-dir, a recording made by hand with a known official intensity, and
// files that are not whole recordings.
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"
#include "support/TestNames.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kReportPath = KELVORA_REPORT_PATH;
constexpr const char* kReplayPath = KELVORA_REPLAY_PATH;
constexpr const char* kSimPath = KELVORA_SIM_PATH;

constexpr char kHeader[] = "\xEF\xBB\xBF"
                           "日付,時間,ms, 震度, 合成GAL(フィルタ有), X軸(E-W), Y軸(N-S), "
                           "Z軸(U-D), 合成速度\r\n\r\n";

std::string cell(double value, int width, int precision) {
    char text[64];
    std::snprintf(text, sizeof text, "%*.*f", width, precision, value);
    return text;
}

// A recording as the recorder writes it: `seconds` of a cosine of
// `amplitudeGal` at `frequencyHz` on the east-west axis, faded in and out
// over 2 s, from 2026-03-14 09:26:53.000.
std::string handMadeRecording(double seconds, double frequencyHz, double amplitudeGal) {
    std::string text = kHeader;
    const auto rows = static_cast<int>(std::lround(seconds * 100.0));
    for (int i = 0; i < rows; ++i) {
        const double t = i / 100.0;
        const double edge = std::min(t, seconds - t);
        const double fade =
            edge >= 2.0 ? 1.0 : 0.5 * (1.0 - std::cos(std::numbers::pi * edge / 2.0));
        const double x = amplitudeGal * fade * std::cos(2.0 * std::numbers::pi * frequencyHz * t);
        const int ms = i * 10;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2026-03-14,09:%02d:%02d,%03d",
                      26 + (53 + ms / 1000) / 60, (53 + ms / 1000) % 60, ms % 1000);
        text += std::string(stamp) + "," + cell(-1.0, 4, 1).insert(0, " ") + "," +
                cell(std::abs(x), 17, 12).insert(0, " ") + "," + cell(x, 17, 12).insert(0, " ") +
                "," + cell(0.0, 17, 12).insert(0, " ") + "," + cell(0.0, 17, 12).insert(0, " ") +
                "," + cell(0.0, 17, 12).insert(0, " ") + "\r\n";
    }
    return text;
}

// The value of `key` in a one-line JSON object: a number, null, or a string
// without its quotes.
std::optional<std::string> jsonValue(const std::string& line, const std::string& key) {
    const std::regex pattern("\"" + key + "\":(\"([^\"]*)\"|[^,}]*)");
    std::smatch match;
    if (!std::regex_search(line, match, pattern)) {
        return std::nullopt;
    }
    return match[2].matched ? match[2].str() : match[1].str();
}

double jsonNumber(const std::string& line, const std::string& key) {
    const std::optional<std::string> value = jsonValue(line, key);
    EXPECT_TRUE(value.has_value()) << key << " in " << line;
    return value ? std::strtod(value->c_str(), nullptr) : NAN;
}

class ReportTool : public ::testing::Test {
protected:
    fs::path write(const std::string& name, const std::string& bytes) {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    ToolRun report(std::vector<std::string> args) {
        args.insert(args.begin(), kReportPath);
        ChildOptions options;
        options.environment = {{"TZ", "JST-9"}};
        return runTool(args, options, 120s);
    }

    TemporaryFolder folder_{"kelvora-report-"};
};

TEST_F(ReportTool, AHandMadeRecordingGetsTheIntensityWorkedOutByHand) {
    // 50 gal at 2 Hz: a0 = 50 G(2) = 50 x 0.69736 = 34.868 gal, and
    // I = 2 log10 34.868 + 0.94 = 4.0249: "4.0", class 4. PGV 50 / (4 pi).
    const fs::path file = write("20260314-092703.csv", handMadeRecording(20.0, 2.0, 50.0));
    const ToolRun run = report({"--json", file.string()});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    const std::string& line = lines[0];
    EXPECT_EQ(jsonValue(line, "file"), file.string());
    EXPECT_EQ(jsonValue(line, "start"), "2026-03-14T09:26:53.000+09:00");
    EXPECT_DOUBLE_EQ(jsonNumber(line, "seconds"), 20.0);
    EXPECT_NEAR(jsonNumber(line, "pga_gal"), 50.0, 0.001);
    EXPECT_NEAR(jsonNumber(line, "pgv_cms"), 50.0 / (4.0 * std::numbers::pi), 0.04);
    EXPECT_NEAR(jsonNumber(line, "jma_official_raw"), 4.025, 0.01);
    EXPECT_EQ(jsonValue(line, "jma_official"), "4.0");
    EXPECT_EQ(jsonValue(line, "jma_class"), "4");
}

TEST_F(ReportTool, ARecordedQuakeGetsTheMonitorsOwnRealTimeMaximum) {
    const fs::path stream = folder_ / "quake.bin";
    const ToolRun sim = runTool(
        {kSimPath, "--quake", "4.0@20", "--seconds", "80", "--output", stream.string()}, {}, 120s);
    ASSERT_EQ(sim.exitStatus, 0) << sim.err;
    const fs::path records = folder_ / "Accelerogram";
    fs::create_directory(records);
    const ToolRun replay = runTool({kReplayPath, "--record-dir", records.string(), "--clock",
                                    "2026-01-01 00:00:05.437", stream.string()},
                                   {}, 120s);
    ASSERT_EQ(replay.exitStatus, 0) << replay.err;
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(records)) {
        files.push_back(entry.path().string());
    }
    ASSERT_EQ(files.size(), 1u);

    const ToolRun run = report({"--json", files[0]});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::string line = run.out;
    // The intensity column holds what the monitor showed, to a tenth.
    double columnMaximum = -10.0;
    std::size_t rows = 0;
    for (const std::string& row : linesOf(readAll(files[0]))) {
        const std::vector<std::string> fields = split(row, ',');
        if (fields.size() == 9 && fields[0].size() == 10) {
            columnMaximum = std::max(columnMaximum, std::strtod(fields[3].c_str(), nullptr));
            ++rows;
        }
    }
    EXPECT_NEAR(jsonNumber(line, "jma_realtime_max"), columnMaximum, 0.05 + 1e-9);
    EXPECT_DOUBLE_EQ(jsonNumber(line, "seconds"), static_cast<double>(rows) / 100.0);
    // The real-time figure is a fast approximation of the official one.
    EXPECT_NEAR(jsonNumber(line, "jma_official_raw"), jsonNumber(line, "jma_realtime_max"), 0.6);
    EXPECT_EQ(jsonValue(line, "start"), "2026-01-01T00:00:15.920+09:00") << line;
}

TEST_F(ReportTool, ARecordShorterThanThreeTenthsOfASecondHasNoOfficialIntensity) {
    const fs::path file = write("short.csv", handMadeRecording(0.2, 2.0, 50.0));
    const ToolRun run = report({"--json", file.string()});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(jsonValue(run.out, "jma_official"), "null");
    EXPECT_EQ(jsonValue(run.out, "jma_official_raw"), "null");
    EXPECT_EQ(jsonValue(run.out, "jma_class"), "null");
    EXPECT_DOUBLE_EQ(jsonNumber(run.out, "seconds"), 0.2);
}

// Files that are not whole recordings: each is named on standard error with
// exit status 1, and a good file after it is still reported.
struct BadFile {
    const char* name;
    const char* message; // a part of what is said
};
void PrintTo(const BadFile& c, std::ostream* os) {
    *os << c.name;
}

class ReportBadFile : public ReportTool, public ::testing::WithParamInterface<BadFile> {
protected:
    fs::path make() {
        const std::string name = GetParam().name;
        const fs::path path = folder_ / (name + ".csv");
        if (name == "NotARecording") {
            write(name + ".csv", "a shopping list\r\nmilk, eggs\r\n");
        } else if (name == "CutShort") {
            const std::string whole = handMadeRecording(2.0, 2.0, 50.0);
            write(name + ".csv", whole.substr(0, whole.size() - 40));
        } else if (name == "Empty") {
            write(name + ".csv", "");
        } else if (name == "Folder") {
            fs::create_directory(path);
        } else if (name == "Unreadable") {
            write(name + ".csv", handMadeRecording(2.0, 2.0, 50.0));
            fs::permissions(path, fs::perms::none);
        }
        return path; // "Missing" is never made
    }
};

TEST_P(ReportBadFile, IsNamedAndTheOthersAreStillReported) {
    if (std::string(GetParam().name) == "Unreadable" && ::geteuid() == 0) {
        GTEST_SKIP() << "root reads any file; the ordinary-user run covers it";
    }
    const fs::path bad = make();
    const fs::path good = write("good.csv", handMadeRecording(5.0, 2.0, 50.0));
    const ToolRun run = report({"--json", bad.string(), good.string()});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find(bad.string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_EQ(jsonValue(lines[0], "file"), good.string());
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReportBadFile,
                         ::testing::Values(BadFile{"NotARecording", "line 2"},
                                           BadFile{"CutShort", "columns"},
                                           BadFile{"Empty", "no rows"}, BadFile{"Folder", "folder"},
                                           BadFile{"Missing", "No such file"},
                                           BadFile{"Unreadable", "Permission denied"}),
                         CaseName{});

TEST_F(ReportTool, AWrongCommandLineExitsWithTwo) {
    EXPECT_EQ(report({}).exitStatus, 2);
    const ToolRun unknown = report({"--bogus", "x.csv"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_NE(unknown.err.find("--bogus"), std::string::npos);
    const ToolRun help = report({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("--json"), std::string::npos);
}

} // namespace
} // namespace kelvora::test
