#include "monitor/PeriodicUpdate.h"

#include "monitor/MonitorFace.h"

namespace kelvora {

PeriodicUpdate::PeriodicUpdate(ObservationLog& log, const DisplayTextBoard& board,
                               IntensityAlerts& alerts, ReceptionControl& reception,
                               const std::int32_t& observationLogEnabled, MonitorFace& face,
                               PeriodicUpdateHost& host)
    : log_(log), board_(board), alerts_(alerts), reception_(reception),
      observationLogEnabled_(observationLogEnabled), face_(face), host_(host) {}

PeriodicUpdate::FieldTexts PeriodicUpdate::initialFieldTexts() {
    return {FieldText("0.000 gal"), FieldText("0.000 gal"), FieldText("0.000 gal"),
            FieldText("0.000"),     FieldText(" ---.-"),    FieldText(" ---.-"),
            FieldText("----.--"),   FieldText("----.--"),   FieldText("0.000"),
            FieldText("-3.0")};
}

PeriodicUpdate::FieldTexts PeriodicUpdate::noDataFieldTexts() {
    return {FieldText("-.--- gal"), FieldText("-.--- gal"), FieldText("-.--- gal"),
            FieldText("-.---"),     FieldText(" ---.-"),    FieldText(" ---.-"),
            FieldText("----.--"),   FieldText("----.--"),   FieldText("-.---"),
            FieldText("---")};
}

void PeriodicUpdate::tick(const LocalTime& now) {
    // A log line that cannot be written is lost and nothing else: the rest of
    // the tick runs as always. A tick late after second 0 still gets the
    // minute's line.
    log_.tick(now, observationLogEnabled_, board_);

    const DisplayTexts texts = board_.snapshot();
    fieldTexts_ = {texts.accelXText,   texts.accelYText,           texts.accelZText,
                   texts.pgaText,      texts.temperatureText,      texts.humidityText,
                   texts.pressureText, texts.seaLevelPressureText, texts.pgvText,
                   texts.intensityText};
    followLineHealth(now);
    if (reception_.runState() == ReceptionControl::Running) {
        if (shownHealth_ == LineState::NoData || shownHealth_ == LineState::Retrying) {
            static const FieldTexts noData = noDataFieldTexts();
            showTexts(noData);
        } else {
            pushFieldTexts();
        }
    }

    if (alerts_.pendingImageRedraws > 0) {
        alerts_.pendingImageRedraws = alerts_.pendingImageRedraws - 1;
        host_.drawIntensityImage();
    }
    if (face_.takeImageRedrawRequest()) {
        host_.drawIntensityImage();
    }
    host_.startupStep();
    reception_.completeStop();
    host_.followDrag();
    host_.hideIfMinimised();
}

void PeriodicUpdate::followLineHealth(const LocalTime& now) {
    // The time frames were last seen, to the tick: the receive side counts
    // them, the window has the local clock.
    const std::uint32_t frames = reception_.framesReceived();
    if (frames != framesSeen_) {
        framesSeen_ = frames;
        lastFrame_ = now;
        haveLastFrame_ = true;
    }
    const LineState health = reception_.runState() == ReceptionControl::Running
                                 ? reception_.lineState()
                                 : LineState::Stopped;
    if (health != shownHealth_) {
        shownHealth_ = health;
        host_.showLineHealth(health, haveLastFrame_ ? &lastFrame_ : nullptr);
    }
}

void PeriodicUpdate::pushFieldTexts() {
    showTexts(fieldTexts_);
}

void PeriodicUpdate::showTexts(const FieldTexts& texts) {
    // Only a changed text is converted and shown: most ticks change nothing.
    for (int i = 0; i < kFieldCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (shownOnce_ && shown_[at] == texts[at]) {
            continue;
        }
        const std::string_view text = texts[at].view();
        face_.field(i).setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        shown_[at] = texts[at];
    }
    shownOnce_ = true;
}

} // namespace kelvora
