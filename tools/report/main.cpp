// kelvora-report: what each recorded event was, from its accelerogram file:
// start, length, PGA, PGV, the monitor's real-time maximum and the official
// intensity of JMA's method with its class.
#include "core/DisplayTexts.h"
#include "core/IntensityAlerts.h"
#include "core/MeasurementPipeline.h"
#include "core/SensorFrame.h"
#include "official/OfficialIntensity.h"
#include "output/AccelerogramCsv.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {
namespace {

constexpr const char* kUsage =
    "Usage: kelvora-report [--json] FILE.csv...\n"
    "Reports each accelerogram file the monitor (or kelvora-replay --record-dir)\n"
    "wrote: its start, length, PGA, PGV, the monitor's real-time JMA maximum (computed\n"
    "again from the X, Y and Z columns, whatever scale the intensity column holds)\n"
    "and the official intensity of JMA's method on the whole record, with its class.\n"
    "\n"
    "  --json    one JSON object per line and file, with the keys file, start (ISO\n"
    "            8601, local time with its UTC offset), seconds, pga_gal, pgv_cms,\n"
    "            jma_realtime_max, jma_official (as JMA reports it: one decimal),\n"
    "            jma_official_raw (rounded at the third decimal) and jma_class;\n"
    "            the last three are null for a record shorter than 0.3 s\n"
    "  --help    this text\n"
    "\n"
    "A file that cannot be read or is not a whole recording is named on standard\n"
    "error and the others are still reported; the exit status is then 1 (2 for a\n"
    "wrong command line).\n";

constexpr const char* kClassLabels[10] = {"0", "1", "2", "3", "4", "5-", "5+", "6-", "6+", "7"};

// The maximum of the real-time JMA intensity that the monitor computes, run
// over the recorded axes as if they were arriving from the sensor.
double realTimeMaximum(const Accelerogram& recording) {
    MeasurementState state;
    PipelineSettings settings; // the axes' own composite, the 10-s window, JMA
    IntensityAlerts alerts;
    DisplayTextBoard board;
    struct Silent : SoundStarter {
        void startAlertSound(int) override {}
        void startNoticeSound(int) override {}
    } sounds;
    MeasurementPipeline pipeline(state, settings, alerts, board, sounds);
    pipeline.startReception();
    double maximum = kJmaFloor;
    for (const AccelerogramRow& row : recording.rows) {
        FrameValues values;
        values.sensorSiGal = static_cast<float>(row.siGal);
        values.sensorVelocity = static_cast<float>(row.velocity);
        values.accelX = static_cast<float>(row.accelX);
        values.accelY = static_cast<float>(row.accelY);
        values.accelZ = static_cast<float>(row.accelZ);
        pipeline.processFrame(encodeFrame(values));
        maximum = std::max(maximum, static_cast<double>(state.jmaIntensity));
    }
    return maximum;
}

// "2026-01-01T11:59:55.000+09:00": the recorder's local time with the offset
// this machine's time zone gives it.
std::string isoStart(const LocalTime& t) {
    std::tm local{};
    local.tm_year = t.year - 1900;
    local.tm_mon = t.month - 1;
    local.tm_mday = t.day;
    local.tm_hour = t.hour;
    local.tm_min = t.minute;
    local.tm_sec = t.second;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    std::tm resolved{};
    long offset = 0;
    if (when != static_cast<std::time_t>(-1) && ::localtime_r(&when, &resolved) != nullptr) {
        offset = resolved.tm_gmtoff;
    }
    const char sign = offset < 0 ? '-' : '+';
    const long minutes = std::labs(offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", t.year,
                  t.month, t.day, t.hour, t.minute, t.second, t.millisecond, sign, minutes / 60,
                  minutes % 60);
    return text;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

struct Report {
    std::string file;
    LocalTime start;
    double seconds = 0.0;
    OfficialIntensity official;
    double realTimeMax = kJmaFloor;
};

std::string jsonLine(const Report& r) {
    const OfficialIntensity& o = r.official;
    std::string line =
        "{\"file\":" + jsonString(r.file) + ",\"start\":\"" + isoStart(r.start) +
        "\",\"seconds\":" + number(r.seconds, 2) + ",\"pga_gal\":" + number(o.pgaGal, 3) +
        ",\"pgv_cms\":" + number(o.pgvCms, 3) + ",\"jma_realtime_max\":" + number(r.realTimeMax, 2);
    if (o.intensityReported) {
        line += ",\"jma_official\":" + number(*o.intensityReported, 1) +
                ",\"jma_official_raw\":" + number(*o.intensityRaw, 3) + ",\"jma_class\":\"" +
                kClassLabels[o.jmaClass] + "\"";
    } else {
        line += ",\"jma_official\":null,\"jma_official_raw\":null,\"jma_class\":null";
    }
    return line + "}";
}

std::string textLine(const Report& r) {
    const OfficialIntensity& o = r.official;
    std::string official = "no official intensity (shorter than 0.3 s)";
    if (o.intensityReported) {
        official = "official " + number(*o.intensityReported, 1) + " (" +
                   number(*o.intensityRaw, 3) + "), class " + kClassLabels[o.jmaClass];
    }
    char start[32];
    std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d.%03d", r.start.year,
                  r.start.month, r.start.day, r.start.hour, r.start.minute, r.start.second,
                  r.start.millisecond);
    return r.file + ": " + start + ", " + number(r.seconds, 2) + " s, PGA " + number(o.pgaGal, 1) +
           " gal, PGV " + number(o.pgvCms, 2) + " cm/s, real-time max " + number(r.realTimeMax, 1) +
           ", " + official;
}

int run(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && arg == "--json") {
            json = true;
        } else if (!optionsEnd && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "kelvora-report: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        } else {
            files.emplace_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "kelvora-report: no file given\n%s", kUsage);
        return 2;
    }
    int status = 0;
    for (const std::string& file : files) {
        Accelerogram recording;
        std::string error;
        if (!readAccelerogramCsv(file, recording, error)) {
            std::fprintf(stderr, "kelvora-report: %s\n", error.c_str());
            status = 1;
            continue;
        }
        ThreeAxisRecord record;
        for (const AccelerogramRow& row : recording.rows) {
            record.x.push_back(row.accelX);
            record.y.push_back(row.accelY);
            record.z.push_back(row.accelZ);
        }
        Report report;
        report.file = file;
        report.start = recording.start;
        report.seconds = static_cast<double>(recording.rows.size()) / 100.0;
        report.official = computeOfficialIntensity(record);
        report.realTimeMax = realTimeMaximum(recording);
        std::printf("%s\n", (json ? jsonLine(report) : textLine(report)).c_str());
        std::fflush(stdout);
    }
    return status;
}

} // namespace
} // namespace kelvora

int main(int argc, char** argv) {
    return kelvora::run(argc, argv);
}
