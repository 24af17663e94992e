// The 30th largest of the 10-second window, kept without sorting the window,
// against a full sort: ties, runs of equal values, rising and falling events,
// restarts and arbitrary slot order.
#include "core/JmaIntensity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>

namespace kelvora::test {
namespace {

double rank30BySort(const std::array<double, 1000>& window) {
    std::array<double, 1000> sorted = window;
    std::sort(sorted.begin(), sorted.end(), std::greater<double>());
    return sorted[29];
}

enum class Pattern { CoarseTies, RisingEvent, DecayingEvent, RandomSlots, Spikes };

class JmaWindowRank : public ::testing::TestWithParam<Pattern> {};

TEST_P(JmaWindowRank, EqualsAFullSortEveryFrame) {
    std::mt19937_64 random(static_cast<std::uint64_t>(GetParam()) + 1);
    std::uniform_int_distribution<int> small(0, 6);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> anySlot(0, 999);

    JmaWindow window;
    std::array<double, 1000> mirror{};
    window.startReception();
    for (int frame = 0; frame < 12000; ++frame) {
        int slot = frame % 1000;
        double value = 0.0;
        switch (GetParam()) {
        case Pattern::CoarseTies: // few distinct values: many ties at rank 30
            value = small(random) * 0.5;
            break;
        case Pattern::RisingEvent:
            value = frame * 0.01 + unit(random);
            break;
        case Pattern::DecayingEvent:
            value = 1000.0 / (1.0 + frame * 0.05) + unit(random) * 0.01;
            break;
        case Pattern::RandomSlots: // restarts and jumps: any slot may be written
            slot = anySlot(random);
            value = unit(random) < 0.1 ? -unit(random) : unit(random) * 10.0;
            break;
        case Pattern::Spikes:
            value = unit(random) < 0.02 ? 500.0 + unit(random) : 0.01;
            break;
        }
        if (frame == 5000) { // a new reception run clears the window
            window.startReception();
            mirror.fill(0.0);
        }
        mirror[static_cast<std::size_t>(slot)] = value;
        const double got = window.update10s(slot, value);
        ASSERT_EQ(got, rank30BySort(mirror)) << "frame " << frame;
    }
}

std::string patternName(const ::testing::TestParamInfo<Pattern>& pattern) {
    static const char* const names[] = {"CoarseTies", "RisingEvent", "DecayingEvent", "RandomSlots",
                                        "Spikes"};
    return names[static_cast<int>(pattern.param)];
}

INSTANTIATE_TEST_SUITE_P(Patterns, JmaWindowRank,
                         ::testing::Values(Pattern::CoarseTies, Pattern::RisingEvent,
                                           Pattern::DecayingEvent, Pattern::RandomSlots,
                                           Pattern::Spikes),
                         patternName);

} // namespace
} // namespace kelvora::test
