// Where a window opens from its stored rectangle: there, when it can be
// reached on one of the screens (its caption or top edge on a work area),
// else at the default place on the primary screen.
#include "shell/WindowPlacement.h"

#include "support/OffscreenApplication.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <cstdint>
#include <limits>
#include <vector>

namespace kelvora::test {
namespace {

const QRect kPrimary(0, 0, 1280, 1024);
const QRect kLeftOfIt(-1920, 0, 1920, 1080);
// The default rectangle's corner, centred in the primary's work area.
constexpr QPoint kDefault(1280 / 2 - 211, 1024 / 2 - 124);

struct PlaceCase {
    const char* name;
    std::int32_t left;
    std::int32_t top;
    std::vector<QRect> screens;
    bool kept;
};

class Placing : public ::testing::TestWithParam<PlaceCase> {
protected:
    QApplication& application_ = offscreenApplication(); // before any widget
    QWidget window_;
};

TEST_P(Placing, KeepsAReachablePlaceAndBringsBackTheRest) {
    window_.setFixedSize(410, 206);
    WindowPlacement placement(window_, kPrimary);
    // A framed window of the default size: 422 x 248.
    const WindowRect stored{GetParam().top, GetParam().left, GetParam().top + 248,
                            GetParam().left + 422};
    placement.measureFrame(stored, window_.size());
    placement.place(stored, GetParam().screens);
    const QPoint expected = GetParam().kept ? QPoint(GetParam().left, GetParam().top) : kDefault;
    EXPECT_EQ(window_.pos(), expected);
}

// Room left for the stored right and bottom edges.
constexpr std::int32_t kFar = std::numeric_limits<std::int32_t>::max() - 1000;

INSTANTIATE_TEST_SUITE_P(
    Places, Placing,
    ::testing::Values(PlaceCase{"OnThePrimaryScreen", 100, 100, {kPrimary}, true},
                      PlaceCase{"RightOfTheOnlyScreen", 3000, 100, {kPrimary}, false},
                      PlaceCase{"OnASecondScreen", -1500, 200, {kPrimary, kLeftOfIt}, true},
                      PlaceCase{"ItsScreenUnplugged", -1500, 200, {kPrimary}, false},
                      PlaceCase{"PartlyOffWithEnoughOfItsTopOn", 1280 - 64, 100, {kPrimary}, true},
                      PlaceCase{"OnlyASliverOn", 1280 - 63, 100, {kPrimary}, false},
                      PlaceCase{"ItsCaptionJustOnTheScreen", 100, -16, {kPrimary}, true},
                      PlaceCase{"ItsCaptionAboveTheScreen", 100, -17, {kPrimary}, false},
                      PlaceCase{"BelowTheScreen", 100, 1024 - 7, {kPrimary}, false},
                      PlaceCase{"FarBeyondAnyDesktop", kFar, kFar, {kPrimary}, false},
                      PlaceCase{"FarBeforeAnyDesktop", -kFar, -kFar, {kPrimary}, false},
                      PlaceCase{"NoScreenKnown", 3000, 100, {}, true}),
    CaseName());

} // namespace
} // namespace kelvora::test
