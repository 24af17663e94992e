// Per-frame cost of the measurement pipeline on a realistic stream, beside the
// literal model that copies and sorts its windows every frame. Pairs share a
// name suffix (BM_Pipeline/10s, BM_LiteralSortEveryFrame/10s) and a summary
// of the literal/pipeline ratios is printed after the console table.
#include "ReferenceModel.h"
#include "SyntheticSensor.h"
#include "core/MeasurementPipeline.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::bench {
namespace {

constexpr std::uint64_t kSeed = 20240611;
constexpr double kStreamSeconds = 120.0;
// Quiet noise, then one moderate event: the windows see both.
const sim::QuakeEvent kEvent{40.0, 30.0, 150.0};

struct Stream {
    std::vector<std::uint8_t> bytes;
    std::vector<FrameBytes> goodFrames;
};

// Generated and decoded once; every benchmark cycles through the same frames.
const Stream& stream() {
    static const Stream s = [] {
        Stream out;
        out.bytes = sim::makeStream(kSeed, kStreamSeconds, {kEvent});
        FrameAssembler assembler;
        for (std::size_t i = 0; i < out.bytes.size(); ++i) {
            const AssembleResult r = assembler.pushRead(ReadResult::of(out.bytes[i]));
            if (r == AssembleResult::GoodFrame) {
                out.goodFrames.push_back(assembler.frame());
            } else if (r == AssembleResult::BadFrame && ++i < out.bytes.size()) {
                assembler.skipNext(ReadResult::of(out.bytes[i]));
            }
        }
        return out;
    }();
    return s;
}

// The sound routines' flag handling, without threads or audio.
class SilentSounds : public SoundStarter {
public:
    explicit SilentSounds(IntensityAlerts& alerts) : alerts_(alerts) {}
    void startAlertSound(int k) override {
        alerts_.beginAlertPlay(k);
        alerts_.finishAlertPlay(k, true);
    }
    void startNoticeSound(int k) override {
        alerts_.beginNoticePlay(k);
        alerts_.finishNoticePlay(k, true);
    }

private:
    IntensityAlerts& alerts_;
};

struct Rig {
    explicit Rig(int jmaWindowMode) {
        settings.jmaWindowMode = jmaWindowMode;
        settings.intensityScale = 0;
        pipeline.startReception();
    }
    MeasurementState state;
    PipelineSettings settings;
    IntensityAlerts alerts;
    DisplayTextBoard board;
    SilentSounds sounds{alerts};
    MeasurementPipeline pipeline{state, settings, alerts, board, sounds};
};

// A pipeline that has already run over the whole stream, so every window is full.
std::unique_ptr<Rig> warmRig(int jmaWindowMode) {
    auto rig = std::make_unique<Rig>(jmaWindowMode);
    for (const FrameBytes& f : stream().goodFrames) {
        rig->pipeline.processFrame(f);
    }
    return rig;
}

void feedFrame(reference::ReferenceModel& model, const FrameBytes& f,
               std::vector<reference::ReferenceFrame>& out) {
    for (std::uint8_t b : f) {
        model.feed(b, out);
    }
}

// Warming the literal model costs a second or so; do it once per mode and hand
// out copies.
const reference::ReferenceModel& warmModel(int jmaWindowMode) {
    static std::map<int, reference::ReferenceModel> warmed;
    auto it = warmed.find(jmaWindowMode);
    if (it == warmed.end()) {
        reference::ReferenceModel model;
        model.settings.jmaWindowMode = jmaWindowMode;
        model.settings.intensityScale = 0;
        model.startReception();
        std::vector<reference::ReferenceFrame> out;
        for (const FrameBytes& f : stream().goodFrames) {
            feedFrame(model, f, out);
            out.clear();
        }
        it = warmed.emplace(jmaWindowMode, std::move(model)).first;
    }
    return it->second;
}

void reportPerFrame(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());
    // CPU seconds per iteration, i.e. per frame; the console prints it with an SI
    // prefix ("412ns"), json and csv hold plain seconds.
    state.counters["ns_per_frame"] = benchmark::Counter(
        1.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Pipeline(benchmark::State& state, int jmaWindowMode) {
    const std::vector<FrameBytes>& frames = stream().goodFrames;
    if (frames.empty()) {
        state.SkipWithError("stream has no good frames");
        return;
    }
    const auto rig = warmRig(jmaWindowMode);
    std::size_t next = 0;
    for (auto _ : state) {
        rig->pipeline.processFrame(frames[next]);
        if (++next == frames.size()) {
            next = 0;
        }
    }
    benchmark::DoNotOptimize(rig->state.jmaIntensity);
    reportPerFrame(state);
}

void BM_LiteralSortEveryFrame(benchmark::State& state, int jmaWindowMode) {
    const std::vector<FrameBytes>& frames = stream().goodFrames;
    if (frames.empty()) {
        state.SkipWithError("stream has no good frames");
        return;
    }
    reference::ReferenceModel model = warmModel(jmaWindowMode);
    std::vector<reference::ReferenceFrame> out;
    out.reserve(1);
    std::size_t next = 0;
    for (auto _ : state) {
        out.clear();
        feedFrame(model, frames[next], out);
        if (++next == frames.size()) {
            next = 0;
        }
    }
    benchmark::DoNotOptimize(out.data());
    reportPerFrame(state);
}

// The receive thread's whole step from bytes: one iteration is one frame's
// worth of single-byte reads through receiveStep, decoder included.
void BM_ReceiveStep(benchmark::State& state, int jmaWindowMode) {
    const std::vector<std::uint8_t>& bytes = stream().bytes;
    if (stream().goodFrames.empty()) {
        state.SkipWithError("stream has no good frames");
        return;
    }
    const auto rig = warmRig(jmaWindowMode);
    rig->pipeline.assembler().reset();
    std::size_t next = 0;
    auto read = [&] {
        const ReadResult r = ReadResult::of(bytes[next]);
        if (++next == bytes.size()) {
            next = 0;
        }
        return r;
    };
    for (auto _ : state) {
        while (receiveStep(rig->pipeline, read) != AssembleResult::GoodFrame) {
        }
    }
    benchmark::DoNotOptimize(rig->state.jmaIntensity);
    reportPerFrame(state);
}

BENCHMARK_CAPTURE(BM_Pipeline, 10s, 0);
BENCHMARK_CAPTURE(BM_LiteralSortEveryFrame, 10s, 0);
BENCHMARK_CAPTURE(BM_Pipeline, 60s, 1);
BENCHMARK_CAPTURE(BM_LiteralSortEveryFrame, 60s, 1);
BENCHMARK_CAPTURE(BM_ReceiveStep, 10s, 0);

// The console table plus, at the end, literal/pipeline for each window mode:
// from the median aggregate when repetitions ran, else from the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : benchmark::ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            const double ns = run.GetAdjustedCPUTime(); // the table's time unit: ns
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") {
                    median_[name] = ns;
                }
            } else {
                single_[name].push_back(ns);
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const char* mode : {"10s", "60s"}) {
            const std::optional<double> pipeline = timeOf(std::string("BM_Pipeline/") + mode);
            const std::optional<double> literal =
                timeOf(std::string("BM_LiteralSortEveryFrame/") + mode);
            if (!pipeline || !literal || *pipeline <= 0.0) {
                continue;
            }
            if (!header) {
                std::fprintf(stdout, "\nliteral/pipeline (CPU ns per frame, median):\n");
                header = true;
            }
            std::fprintf(stdout, "  %s: %.1f / %.1f = %.1fx\n", mode, *literal, *pipeline,
                         *literal / *pipeline);
        }
        std::fflush(stdout);
    }

private:
    std::optional<double> timeOf(const std::string& name) const {
        if (const auto it = median_.find(name); it != median_.end()) {
            return it->second;
        }
        const auto it = single_.find(name);
        if (it == single_.end() || it->second.empty()) {
            return std::nullopt;
        }
        std::vector<double> times = it->second;
        const auto mid = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
        std::nth_element(times.begin(), mid, times.end());
        return *mid;
    }

    std::map<std::string, double> median_;
    std::map<std::string, std::vector<double>> single_;
};

// Only the console format gets the ratio summary; json and csv stay clean.
bool consoleFormat(int argc, char** argv) {
    constexpr std::string_view kFlag = "--benchmark_format=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, kFlag.size()) == kFlag && arg.substr(kFlag.size()) != "console") {
            return false;
        }
    }
    return true;
}

} // namespace
} // namespace kelvora::bench

int main(int argc, char** argv) {
    const bool console = kelvora::bench::consoleFormat(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (console) {
        kelvora::bench::RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}
