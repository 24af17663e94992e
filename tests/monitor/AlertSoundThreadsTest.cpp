// The alert and notice sounds through the real AlertSoundThreads:
// display ticks are driven through IntensityAlerts::decideClass and
// updateAlerts, the sounds play on the one player thread into a fake player
// that records the files and threads, fails on demand, can have no device and
// can hold a play until it is released or stopped. Every wait is bounded.
#include "FakeSoundPlayer.h"
#include "ManualClock.h"

#include "core/DisplayTexts.h"
#include "monitor/AlertSoundThreads.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

namespace kelvora::test {
namespace {

using namespace std::chrono_literals;
using Files = std::vector<std::string>;

constexpr auto kWait = 5s;

// A value inside each class 0..9 on either scale.
constexpr std::array<double, kClassCount> kJmaValue{0.0, 1.0, 2.0, 3.0, 4.0,
                                                    4.7, 5.2, 5.7, 6.2, 6.7};
constexpr std::array<double, kClassCount> kMmiValue{1.0, 2.0, 3.0, 4.0, 5.0,
                                                    6.0, 7.0, 8.0, 9.0, 10.0};

std::string file(const char* format, int k) {
    char text[64];
    std::snprintf(text, sizeof text, format, k);
    return text;
}
std::string alert(int k) {
    return file("./Sounds/SiAlert/%02d.wav", k);
}
std::string jma(int k) {
    return file("./Sounds/SiNotice/jma_%02d.wav", k);
}
std::string mmi(int k) {
    return file("./Sounds/SiNotice/mmi_%02d.wav", k);
}

class SoundThreads : public ::testing::Test {
protected:
    void TearDown() override { player->release(); }

    // One display tick in class c on the current scale, as the receive thread
    // runs it: decideClass, then updateAlerts.
    void tick(int c, SoundStarter& sounds) {
        const auto i = static_cast<std::size_t>(c);
        alerts.decideClass(settings.intensityScale, kJmaValue[i], kMmiValue[i], intensityText);
        ASSERT_EQ(alerts.intensityClass, c);
        alerts.updateAlerts(sounds);
    }
    void tick(int c) { tick(c, *threads); }

    // A tick, then a bounded wait for its sounds to end: the files they
    // played, in the order they played.
    Files tickAndPlay(int c) {
        const std::size_t before = player->started().size();
        tick(c);
        EXPECT_TRUE(threads->waitUntilQuiet(kWait)) << "a sound did not end";
        const Files all = player->started();
        return Files(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    }

    std::shared_ptr<FakeSoundPlayer> player = std::make_shared<FakeSoundPlayer>();
    IntensityAlerts alerts;
    PipelineSettings settings;
    FieldText intensityText;
    std::unique_ptr<AlertSoundThreads> threads =
        std::make_unique<AlertSoundThreads>(alerts, settings, player);
};

// --- Files ---------------------------------------------------------------------------

TEST(SoundFiles, AreTheProgramsOwnTexts) {
    EXPECT_EQ(alertSoundText(1), ".\\Sounds\\SiAlert\\01.wav");
    EXPECT_EQ(alertSoundText(9), ".\\Sounds\\SiAlert\\09.wav");
    EXPECT_EQ(noticeSoundText(0, 1), ".\\Sounds\\SiNotice\\jma_01.wav");
    EXPECT_EQ(noticeSoundText(0, 9), ".\\Sounds\\SiNotice\\jma_09.wav");
    EXPECT_EQ(noticeSoundText(1, 1), ".\\Sounds\\SiNotice\\mmi_01.wav");
    EXPECT_EQ(noticeSoundText(2, 9), ".\\Sounds\\SiNotice\\mmi_09.wav"); // any scale but 0
    for (int k : {-1, 0, 10}) {
        EXPECT_TRUE(alertSoundText(k).empty()) << k;
        EXPECT_TRUE(noticeSoundText(0, k).empty()) << k;
    }
}

TEST_F(SoundThreads, PlayNativePathsRelativeToTheCurrentFolder) {
    std::set<std::string> distinct;
    for (int k = 1; k <= 9; ++k) {
        EXPECT_EQ(threads->alertPath(k), alert(k));
        EXPECT_EQ(threads->noticePath(0, k), jma(k));
        EXPECT_EQ(threads->noticePath(1, k), mmi(k));
        distinct.insert(
            {threads->alertPath(k), threads->noticePath(0, k), threads->noticePath(1, k)});
    }
    EXPECT_EQ(distinct.size(), 27u);
    EXPECT_TRUE(threads->alertPath(0).empty());
    EXPECT_TRUE(threads->noticePath(0, 10).empty());
}

// --- Alerts ----------------------------------------------------------------------------

TEST_F(SoundThreads, AnAlertPlaysOffTheReceiveThreadAtTheSecondTick) {
    EXPECT_EQ(tickAndPlay(3), Files{});
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    ASSERT_EQ(player->threads().size(), 1u);
    EXPECT_NE(player->threads()[0], ::gettid());
    EXPECT_EQ(alerts.alertRetry[3], 0);
    for (int t = 3; t <= 9; ++t) {
        EXPECT_EQ(tickAndPlay(3), Files{}) << "tick " << t;
    }
    EXPECT_EQ(tickAndPlay(3), Files{jma(3)});
    for (int t = 11; t <= 20; ++t) {
        EXPECT_EQ(tickAndPlay(3), Files{}) << "tick " << t;
    }
    EXPECT_EQ(threads->playing(), 0);
}

TEST_F(SoundThreads, AFailedAlertStartsAgainAtEveryTickUntilItPlays) {
    player->fail(alert(3));
    EXPECT_EQ(tickAndPlay(3), Files{});
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    EXPECT_EQ(alerts.alertRetry[3], 1);
    EXPECT_EQ(alerts.classDwell[1], IntensityAlerts::kSuppressed);
    EXPECT_EQ(alerts.classDwell[2], IntensityAlerts::kSuppressed);

    // Class 1 counts up from the suppression value; the retry writes it again.
    EXPECT_EQ(tickAndPlay(1), Files{alert(3)});
    EXPECT_EQ(alerts.classDwell[1], IntensityAlerts::kSuppressed);
    EXPECT_EQ(alerts.alertRetry[3], 1);
    EXPECT_EQ(tickAndPlay(1), Files{alert(3)});
    EXPECT_EQ(alerts.classDwell[1], IntensityAlerts::kSuppressed);

    player->succeed(alert(3));
    EXPECT_EQ(tickAndPlay(1), Files{alert(3)});
    EXPECT_EQ(alerts.alertRetry[3], 0);
    for (int t = 0; t < 12; ++t) {
        EXPECT_EQ(tickAndPlay(1), Files{}) << "tick " << t; // class 1 stays suppressed
    }
}

TEST_F(SoundThreads, ClassZeroEndsTheRetries) {
    player->failEverything(true);
    EXPECT_EQ(tickAndPlay(3), Files{});
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    ASSERT_EQ(alerts.alertRetry[3], 1);

    EXPECT_EQ(tickAndPlay(0), Files{});
    EXPECT_EQ(alerts.alertRetry[3], 0);
    for (int t = 0; t < 5; ++t) {
        EXPECT_EQ(tickAndPlay(0), Files{});
    }
    // A later rise starts afresh.
    EXPECT_EQ(tickAndPlay(1), Files{});
    EXPECT_EQ(tickAndPlay(1), Files{alert(1)});
}

// --- Notices ---------------------------------------------------------------------------

TEST_F(SoundThreads, AFailedNoticeStartsAgainAtEveryTickUntilItPlays) {
    player->fail(jma(2));
    for (int t = 1; t <= 9; ++t) {
        EXPECT_EQ(tickAndPlay(2), t == 2 ? Files{alert(2)} : Files{}) << "tick " << t;
    }
    EXPECT_EQ(tickAndPlay(2), Files{jma(2)});
    EXPECT_EQ(alerts.noticeRetry[2], 1);
    EXPECT_EQ(tickAndPlay(2), Files{jma(2)});
    EXPECT_EQ(tickAndPlay(2), Files{jma(2)});
    player->succeed(jma(2));
    EXPECT_EQ(tickAndPlay(2), Files{jma(2)});
    EXPECT_EQ(alerts.noticeRetry[2], 0);
    EXPECT_EQ(tickAndPlay(2), Files{});
}

TEST_F(SoundThreads, OnTheMercalliScaleANoticePlaysTheMercalliFile) {
    settings.intensityScale = 1;
    Files all;
    for (int t = 1; t <= 12; ++t) {
        for (const std::string& f : tickAndPlay(4)) {
            all.push_back(f);
        }
    }
    EXPECT_EQ(all, (Files{alert(4), mmi(4)})); // alerts are the same on both scales
}

TEST_F(SoundThreads, ANoticePlaysTheFileOfTheScaleAtTheMomentItPlays) {
    for (int from : {0, 1}) {
        settings.intensityScale = from;
        tick(0);
        // The alert of tick 2 keeps playing; the notice of tick 10 waits its turn.
        player->hold();
        for (int t = 1; t <= 10; ++t) {
            tick(3);
        }
        ASSERT_TRUE(player->waitForActive(1));
        EXPECT_EQ(threads->playing(), 2);

        // Started on one scale, the notice plays after the user changed it.
        settings.intensityScale = 1 - from;
        player->release();
        ASSERT_TRUE(threads->waitUntilQuiet(kWait));
    }
    EXPECT_EQ(player->started(), (Files{alert(3), mmi(3), alert(3), jma(3)}));
}

// --- Threads ---------------------------------------------------------------------------

TEST_F(SoundThreads, TheReceiveThreadNeverWaitsForAPlay) {
    player->hold();
    auto receive = std::async(std::launch::async, [this] {
        for (int t = 1; t <= 12; ++t) {
            tick(3);
        }
    });
    // Twelve ticks end while the alert (tick 2) and the notice (tick 10) still play.
    ASSERT_EQ(receive.wait_for(kWait), std::future_status::ready) << "the receive thread waited";
    receive.get();
    ASSERT_TRUE(player->waitForActive(1));
    EXPECT_EQ(threads->playing(), 2); // the notice waits behind the alert
    EXPECT_EQ(player->finished(), 0);

    player->release();
    ASSERT_TRUE(threads->waitUntilQuiet(kWait));
    EXPECT_EQ(player->finished(), 2);
    EXPECT_EQ(player->started(), (Files{alert(3), jma(3)}));
}

TEST_F(SoundThreads, OneThreadPlaysEverySound) {
    player->fail(alert(3));
    Files all;
    const auto play = [&](int c) {
        for (const std::string& f : tickAndPlay(c)) {
            all.push_back(f);
        }
    };
    for (int t = 1; t <= 4; ++t) {
        play(3); // the alert, then its retries
    }
    player->succeed(alert(3));
    for (int t = 5; t <= 10; ++t) {
        play(3); // the last retry plays; the notice at tick 10
    }
    play(0);
    play(5);
    play(5);
    ASSERT_EQ(all, (Files{alert(3), alert(3), alert(3), alert(3), jma(3), alert(5)}));

    const std::vector<pid_t> ids = player->threads();
    ASSERT_EQ(ids.size(), all.size());
    EXPECT_NE(ids[0], ::gettid());
    for (std::size_t i = 1; i < ids.size(); ++i) {
        EXPECT_EQ(ids[i], ids[0]) << "play " << i << " ran on another thread";
    }
}

TEST_F(SoundThreads, ASoundStartedWhileAnotherPlaysFollowsIt) {
    player->hold();
    tick(1);
    tick(1); // alert 1 starts and keeps playing
    ASSERT_TRUE(player->waitForActive(1));
    tick(2);
    tick(2); // alert 2 waits its turn
    EXPECT_EQ(threads->playing(), 2);
    EXPECT_EQ(player->active(), 1);

    player->release();
    ASSERT_TRUE(threads->waitUntilQuiet(kWait));
    EXPECT_EQ(player->started(), (Files{alert(1), alert(2)}));
    EXPECT_EQ(alerts.alertRetry[1], 0);
    EXPECT_EQ(alerts.alertRetry[2], 0);
}

// The receive thread may start a sound again before the player has come to
// it: it plays once. Started again once it plays, it plays again.
TEST_F(SoundThreads, ASoundStartedAgainWhileItWaitsPlaysOnce) {
    player->hold();
    threads->startAlertSound(1);
    ASSERT_TRUE(player->waitForActive(1));
    threads->startAlertSound(1); // alert 1 again, after the first has begun
    for (int i = 0; i < 3; ++i) {
        threads->startNoticeSound(4);
    }
    EXPECT_EQ(threads->playing(), 3);

    player->release();
    ASSERT_TRUE(threads->waitUntilQuiet(kWait));
    EXPECT_EQ(player->started(), (Files{alert(1), alert(1), jma(4)}));
}

TEST_F(SoundThreads, AnAlertRetryAndANoticeStartInTheSameTick) {
    player->fail(alert(3));
    for (int t = 1; t <= 9; ++t) {
        EXPECT_EQ(tickAndPlay(3), t == 1 ? Files{} : Files{alert(3)}) << "tick " << t;
    }
    player->hold();
    tick(3); // tenth tick: the alert's retry and the notice, in that order
    ASSERT_TRUE(player->waitForActive(1));
    EXPECT_EQ(threads->playing(), 2);
    player->release();
    ASSERT_TRUE(threads->waitUntilQuiet(kWait));
    const Files started = player->started();
    EXPECT_EQ(Files(started.end() - 2, started.end()), (Files{alert(3), jma(3)}));
}

TEST_F(SoundThreads, TheDestructorStopsAPlayAndJoinsItsThread) {
    // A bound far beyond the test's wait: only a stopped play lets the
    // destructor return in time.
    AlertSoundOptions options;
    options.shutdownWait = 12 * kWait;
    threads = std::make_unique<AlertSoundThreads>(alerts, settings, player, options);
    player->hold();
    tick(2);
    tick(2);
    ASSERT_TRUE(player->waitForActive(1));

    auto destroyed = std::async(std::launch::async, [this] { threads.reset(); });
    ASSERT_EQ(destroyed.wait_for(kWait), std::future_status::ready)
        << "the destructor waited for the play to end by itself";
    destroyed.get();
    // The stopped play ended, and reported its failure, before the destructor
    // returned; the joined thread no longer holds the player.
    EXPECT_EQ(player->finished(), 1);
    EXPECT_EQ(alerts.alertRetry[2], 1);
    EXPECT_EQ(player.use_count(), 1);
}

TEST_F(SoundThreads, TheDestructorGivesUpAfterItsBound) {
    AlertSoundOptions options;
    options.shutdownWait = 100ms;
    auto bounded = std::make_unique<AlertSoundThreads>(alerts, settings, player, options);
    player->hold();
    player->ignoreStop(true); // a device that hangs
    player->fail(alert(2));
    tick(2, *bounded);
    tick(2, *bounded);
    ASSERT_TRUE(player->waitForActive(1));

    const auto start = std::chrono::steady_clock::now();
    bounded.reset();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, kWait);

    // The late sound ends without reporting to the alerts it was started for,
    // and lets go of the player it kept alive.
    player->release();
    ASSERT_TRUE(player->waitForFinished(1));
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (player.use_count() > 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(player.use_count(), 2); // this test's and the fixture's own threads object
    EXPECT_EQ(alerts.alertRetry[2], 0);
}

TEST_F(SoundThreads, WithoutAPlayerThreadEverySoundIsAFailedPlay) {
    int refused = 0;
    AlertSoundOptions options;
    options.startThread = [&refused](std::function<void()> /*body*/) -> std::thread {
        ++refused;
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread");
    };
    AlertSoundThreads refusing(alerts, settings, player, options);
    EXPECT_EQ(refused, 1);
    tick(3, refusing);
    EXPECT_NO_THROW(tick(3, refusing));
    EXPECT_EQ(alerts.alertRetry[3], 1);
    EXPECT_EQ(refusing.playing(), 0);

    tick(3, refusing); // retried at the next tick, like a failed play
    EXPECT_EQ(alerts.alertRetry[3], 1);
    EXPECT_EQ(alerts.classDwell[2], IntensityAlerts::kSuppressed);
    for (int t = 4; t <= 10; ++t) {
        tick(3, refusing);
    }
    EXPECT_EQ(alerts.noticeRetry[3], 1);
    EXPECT_TRUE(refusing.waitUntilQuiet(0ms));
    EXPECT_TRUE(player->started().empty());
}

TEST_F(SoundThreads, ClassesOutsideOneToNineStartNothing) {
    for (int k : {-1, 0, 10}) {
        threads->startAlertSound(k);
        threads->startNoticeSound(k);
    }
    EXPECT_EQ(threads->playing(), 0);
    EXPECT_TRUE(threads->waitUntilQuiet(kWait));
    EXPECT_TRUE(player->started().empty());
}

// --- No device -------------------------------------------------------------------------

// The player thread with a clock the test moves and a 5-s recheck.
class SoundDevice : public SoundThreads {
protected:
    void SetUp() override {
        AlertSoundOptions options;
        options.deviceRecheck = kRecheck;
        options.clock = clock.function();
        threads = std::make_unique<AlertSoundThreads>(alerts, settings, player, options);
    }
    void TearDown() override {
        SoundThreads::TearDown();
        threads.reset(); // before the clock it reads
    }

    static constexpr std::chrono::milliseconds kRecheck{5000};
    ManualClock clock;
};

TEST_F(SoundDevice, AMissingDeviceIsAskedForAgainOnlyAfterItsRecheck) {
    player->noDevice(true);
    EXPECT_EQ(tickAndPlay(3), Files{});
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)}); // finds no device
    EXPECT_EQ(alerts.alertRetry[3], 1);

    clock.advance(kRecheck - 1ms);
    for (int t = 3; t <= 12; ++t) {
        // Retried at every tick, and failing at once without the device.
        EXPECT_EQ(tickAndPlay(3), Files{}) << "tick " << t;
        EXPECT_EQ(alerts.alertRetry[3], 1) << "tick " << t;
        EXPECT_EQ(alerts.classDwell[2], IntensityAlerts::kSuppressed) << "tick " << t;
    }
    EXPECT_EQ(alerts.noticeRetry[3], 1); // the notice of tick 10 failed alike

    // Once a tick: the alert asks, finds none, and the notice of the same
    // tick does not ask again.
    clock.advance(1ms);
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    EXPECT_EQ(tickAndPlay(3), Files{});
    clock.advance(kRecheck);
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    EXPECT_EQ(alerts.alertRetry[3], 1);
    EXPECT_EQ(alerts.noticeRetry[3], 1);
}

TEST_F(SoundDevice, ADeviceThatAppearsLaterIsUsedAtTheRecheck) {
    player->noDevice(true);
    EXPECT_EQ(tickAndPlay(3), Files{});
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    player->noDevice(false); // a headset plugged in
    EXPECT_EQ(tickAndPlay(3), Files{});
    EXPECT_EQ(alerts.alertRetry[3], 1);

    clock.advance(kRecheck);
    EXPECT_EQ(tickAndPlay(3), Files{alert(3)});
    EXPECT_EQ(alerts.alertRetry[3], 0);
    for (int t = 5; t <= 9; ++t) {
        EXPECT_EQ(tickAndPlay(3), Files{}) << "tick " << t;
    }
    EXPECT_EQ(tickAndPlay(3), Files{jma(3)}); // the notice plays at once
    EXPECT_EQ(alerts.noticeRetry[3], 0);

    // Unplugged again: found missing at the next play, not before.
    player->noDevice(true);
    EXPECT_EQ(tickAndPlay(0), Files{});
    EXPECT_EQ(tickAndPlay(1), Files{});
    EXPECT_EQ(tickAndPlay(1), Files{alert(1)});
    EXPECT_EQ(tickAndPlay(1), Files{});
    EXPECT_EQ(alerts.alertRetry[1], 1);
}

} // namespace
} // namespace kelvora::test
