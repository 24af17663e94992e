#pragma once

#include <cstdint>
#include <vector>

namespace kelvora::assets {

// The runtime folder's sounds are made here, from nothing but arithmetic:
// 16-bit mono at kSoundRate, peaks at kSoundPeakDbfs, every file shorter than
// 3 s, starting and ending in a few milliseconds of silence behind a fade, so
// no sound clicks.
inline constexpr int kSoundRate = 22050;
inline constexpr double kSoundPeakDbfs = -1.0;

// An alert is urgent: fast two-tone bursts (pi-po) in two groups. Both the
// pitch and the number of bursts rise with the class k = 1..9.
double alertPitch(int k);   // Hz of the first (lower) tone of each pair
int alertBurstCount(int k); // bursts in the whole sound
std::vector<double> alertSignal(int k, int rate = kSoundRate);

// A notice is calm: k soft chime beats for class k, a quarter second apart,
// on one pitch. The JMA and the Mercalli notices differ in timbre: the JMA
// chime has harmonic partials (1, 2, 3, 4 times the pitch, a mellow
// mallet), the Mercalli chime inharmonic bell partials (1, 2.76, 5.40, 8.93).
enum class NoticeTimbre { Jma, Mercalli };
inline constexpr double kNoticePitch = 659.26; // E5
inline constexpr double kNoticeBeatSeconds = 0.27;
std::vector<double> noticeSignal(NoticeTimbre timbre, int k, int rate = kSoundRate);

// Scales the signal so that its peak lies at peakDbfs and rounds it to
// 16-bit samples.
std::vector<std::int16_t> toPcm16(const std::vector<double>& signal, double peakDbfs);

} // namespace kelvora::assets
