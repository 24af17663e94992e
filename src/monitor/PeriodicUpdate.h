#pragma once

#include "core/DisplayTexts.h"
#include "core/IntensityAlerts.h"
#include "link/ReceptionControl.h"
#include "output/LocalTime.h"
#include "output/ObservationLog.h"

#include <array>
#include <cstdint>

namespace kelvora {

class MonitorFace;

// The window's side of each tick: what only the window knows how to do.
class PeriodicUpdateHost {
public:
    virtual ~PeriodicUpdateHost() = default;
    virtual void drawIntensityImage() = 0;
    // The start-up actions of the first ticks.
    virtual void startupStep() = 0;
    // Moves the window with the cursor while a drag is on.
    virtual void followDrag() = 0;
    // Hides a minimised window into the tray.
    virtual void hideIfMinimised() = 0;
    // The line's health changed: the no-data tile and the tray's tooltip.
    // lastFrame is the local time frames were last seen, nullptr before any.
    virtual void showLineHealth(LineState state, const LocalTime* lastFrame) = 0;
};

// The user-interface timer's tick, every 10 ms whether or not reception
// runs: the observation log, the read-outs, the class image, the start-up
// steps, the completion of a stop, the drag and the tray, in that order.
// The read-outs are the window's own copy of the texts the receive thread
// formats at its display ticks, taken whole under the board's lock; while a
// run has no data they show placeholders instead, never stale values.
class PeriodicUpdate {
public:
    static constexpr int kFieldCount = 10;
    using FieldTexts = std::array<FieldText, kFieldCount>;

    PeriodicUpdate(ObservationLog& log, const DisplayTextBoard& board, IntensityAlerts& alerts,
                   ReceptionControl& reception, const std::int32_t& observationLogEnabled,
                   MonitorFace& face, PeriodicUpdateHost& host);

    // now: the local time read for this tick.
    void tick(const LocalTime& now);

    // The window's copy of the ten read-outs, 1001 to 1010.
    FieldTexts& fieldTexts() { return fieldTexts_; }
    // Shows the copy in the read-outs (the window does this when it opens and
    // after the settings dialog; the tick does it only while receiving).
    void pushFieldTexts();

    // The read-outs before any refresh.
    static FieldTexts initialFieldTexts();
    // The read-outs while a run has no data.
    static FieldTexts noDataFieldTexts();

private:
    void showTexts(const FieldTexts& texts);
    void followLineHealth(const LocalTime& now);

    ObservationLog& log_;
    const DisplayTextBoard& board_;
    IntensityAlerts& alerts_;
    ReceptionControl& reception_;
    const std::int32_t& observationLogEnabled_;
    MonitorFace& face_;
    PeriodicUpdateHost& host_;
    FieldTexts fieldTexts_ = initialFieldTexts();
    FieldTexts shown_{}; // what the read-outs show
    bool shownOnce_ = false;
    std::uint32_t framesSeen_ = 0;
    LocalTime lastFrame_{};
    bool haveLastFrame_ = false;
    LineState shownHealth_ = LineState::Stopped;
};

} // namespace kelvora
