// Straightforward model of the per-frame computation, kept deliberately simple and
// independent of the production pipeline so that tests can compare the two frame by
// frame. Nothing here is tuned for speed: windows are copied and fully sorted every
// time they are evaluated.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvora::reference {

struct ReferenceSettings {
    int jmaWindowMode = 0;  // 0: 10-second window, anything else: 60-second window
    int intensityScale = 0; // 0: JMA, anything else: Mercalli
    int useSensorSiGal = 0;
    int useSensorVelocity = 0;
};

struct ReferenceTexts {
    std::string accelX, accelY, accelZ, jmaAccel, pga, temperature, humidity, pressure,
        seaLevelPressure, pgv, intensity, temperatureLog, humidityLog, pressureLog,
        seaLevelPressureLog;
};

struct ReferenceFrame {
    int frameIndex = 0;   // value during the frame (before it advances)
    int displayPhase = 0; // value during the frame (before it advances)
    bool displayTick = false;
    // State values after the frame's floats have been stored.
    double sensorSiGal = 0.0, sensorVelocity = 0.0, accelX = 0.0, accelY = 0.0, accelZ = 0.0,
           temperature = 0.0, humidity = 0.0, pressure = 0.0, seaLevelPressure = 0.0;
    double siGalComputed = 0.0, siGal = 0.0, jmaAccel = 0.0, pgaVector = 0.0, pgvComputed = 0.0,
           pgv = 0.0, mmiFromPga = 0.0, mmiFromPgv = 0.0, mmi = 0.0, jmaIntensity = 0.0;
    double intensity = 0.0; // as written to the history record (after the floor step)
    // Peaks at the end of the frame (after a display tick's resets).
    double peakAccelX = 0.0, peakAccelY = 0.0, peakAccelZ = 0.0, peakPgaVector = 0.0,
           peakJmaAccel = 0.0, peakPgv = 0.0, peakJmaIntensity = 0.0, peakMmi = 0.0;
    int intensityClass = 0;      // after the frame
    int pendingImageRedraws = 0; // after the frame
    // Sounds started at this frame's display tick, in start order: "A<k>" alert, "N<k>" notice.
    std::vector<std::string> sounds;
    ReferenceTexts texts; // current display texts at the end of the frame
};

class ReferenceModel {
public:
    ReferenceModel(); // program-start values
    ReferenceSettings settings;

    // Clears what a reception start clears; everything else carries over.
    void startReception();

    // One single-byte read result: a byte, or std::nullopt for a read time-out. After a bad
    // frame the next read is consumed and discarded here. Appends one entry per good frame.
    void feed(std::optional<std::uint8_t> read, std::vector<ReferenceFrame>& out);

    std::uint32_t goodFrameCount() const { return goodFrames_; }
    std::uint32_t badFrameCount() const { return badFrames_; }
    const std::array<int, 10>& classDwell() const { return classDwell_; } // index 1..9

private:
    static constexpr int kFrameSize = 42;

    struct AxisFilter {
        double lpState1 = 0.0;
        double lpState2 = 0.0;
        std::array<double, 100> lpHistory{};
        double smoothed = 0.0;
    };

    struct AxisVelocity {
        double velState = 0.0;
        double prevAccel = 0.0;
    };

    void runFrame(std::vector<ReferenceFrame>& out);
    void applyFrame();
    double filterAxis(AxisFilter& axis, double x) const;
    void updateJmaWindow();
    double integrateAxis(AxisVelocity& axis, double a) const;
    void updateVelocity();
    void updateMercalli();
    void computeJmaIntensity();
    void raisePeaks();
    void displayTick(ReferenceFrame& frame);
    void decideClass();
    void updateAlerts(std::vector<std::string>& sounds);
    void playAlertSound(int k, std::vector<std::string>& sounds);
    void playNoticeSound(int k, std::vector<std::string>& sounds);
    void formatTexts();
    float frameFloat(int offset) const;

    // Decoder
    std::array<std::uint8_t, kFrameSize> frameBuffer_{};
    int byteCount_ = 0;
    bool skipNextRead_ = false;
    std::uint32_t goodFrames_ = 0;
    std::uint32_t badFrames_ = 0;

    // Frame inputs
    double sensorSiGal_ = 0.0;
    double sensorVelocity_ = 0.0;
    double accelX_ = 0.0;
    double accelY_ = 0.0;
    double accelZ_ = 0.0;
    double temperature_ = 0.0;
    double humidity_ = 0.0;
    double pressure_ = 0.0;
    double seaLevelPressure_ = 0.0;

    // Computed per frame
    double siGalComputed_ = 0.0;
    double siGal_ = 0.0;
    double jmaAccel_ = 0.0;
    double pgaVector_ = 0.0;
    double pgvComputed_ = 0.0;
    double pgv_ = 0.0;
    double mmiFromPga_ = 0.0;
    double mmiFromPgv_ = 0.0;
    double mmi_ = -9.9;
    double jmaIntensity_ = -3.0;
    double intensity_ = -3.0;

    // Display-period peaks
    double peakAccelX_ = 0.0;
    double peakAccelY_ = 0.0;
    double peakAccelZ_ = 0.0;
    double peakPgaVector_ = 0.0;
    double peakJmaAccel_ = 0.0;
    double peakPgv_ = 0.0;
    double peakJmaIntensity_ = -3.0;
    double peakMmi_ = -9.9;

    int frameIndex_ = 0;
    int displayPhase_ = 0;

    // Filter chain and JMA windows
    AxisFilter filterX_, filterY_, filterZ_;
    std::vector<double> window10s_;
    std::vector<double> blockBuffer_;
    std::vector<std::vector<double>> blocks60s_;
    int blockIndex_ = 0;
    std::vector<double> sortArea60s_;

    // Velocity integrators and Mercalli history
    AxisVelocity velX_, velY_, velZ_;
    std::vector<double> mmiHistory_;

    // Classes and sounds
    int intensityClass_ = 0;
    int previousClass_ = -3;
    int pendingImageRedraws_ = 0;
    std::array<int, 10> classDwell_{};
    std::array<int, 10> alertRetry_{};
    std::array<int, 10> noticeRetry_{};

    ReferenceTexts texts_;
};

} // namespace kelvora::reference
