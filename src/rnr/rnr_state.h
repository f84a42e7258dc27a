// Layout of one environment-noise channel state (6860 bytes, identical on
// every target). Fields that would hold addresses are 32-bit words: FFT
// set-ups as byte offsets relative to this record, rate tables as table codes,
// per-call scratch as 0. The record ends in a part whose layout depends on the
// sample rate; both variants share the storage of RnrChanState::tail.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/layout.h"
#include "dsp/highpass.h"
#include "rnr/rnr.h"

namespace vocrel::rnr {

inline constexpr int kMaxBands = 89;  // 25 + 512/8
inline constexpr int kMaxBins = 257;  // 512/2 + 1
inline constexpr int kVad2HistLen = 100;
inline constexpr int kVad1Bands = 33;  // index 1..32 used
inline constexpr int kLowBands = 33;   // bands 0..32 are single bins
inline constexpr int kLowFlagBands = 8;
inline constexpr int kSubWindows = 4;

// A reserved 16-bit array followed by its two guards.
template <int N>
struct GuardedI16 {
  std::array<std::int16_t, N> v;
  std::uint16_t guard16;
  std::uint32_t guard;
};

// A reserved 32-bit array followed by its guard.
template <int N>
struct GuardedI32 {
  std::array<std::int32_t, N> v;
  std::uint32_t guard;
};

// Rate-dependent end of the record (from byte 3884): the previous input frame,
// the overlap tail, the band-gain state, the noise estimate and the per-bin
// gains, with the guard words between them. The 8 kHz layout keeps one
// 16-bit reserved area of the 16 kHz band count and ends early; the rest of
// its 6860 bytes is unused.
struct RnrTail8k {
  static constexpr int N = 80, B = 57, K = 129;
  std::array<std::int16_t, N> prevIn;          // previous filtered frame
  std::array<std::int16_t, N> overlapBuf;      // synthesis tail of the last frame
  std::array<std::int16_t, B> bandSmoothCoef;  // Q15 weight of the previous gain
  std::uint16_t coefGuard16;
  std::uint32_t coefGuard;
  std::array<GuardedI16<B>, 1> reservedI16;
  GuardedI16<kMaxBands> reservedWide;
  std::array<std::int16_t, B> bandSmoothGain;  // Q15 smoothed band gain
  std::uint16_t gainGuard16;
  vocrel::Ref32 mcraSpecPtr;             // always 0: the scratch travels by argument
  std::array<std::int32_t, B> noiseEst;  // noise magnitude per band
  std::uint32_t noiseGuard;
  std::array<GuardedI32<B>, 2> reservedI32;
  std::array<std::int16_t, K> gainBin;  // Q15 gain per bin
  std::uint16_t binGuard16;
  std::uint32_t endGuard;  // checked every frame
};

// The 16 kHz layout: the same fields at 89 bands and 257 bins; its closing
// guard ends the record.
struct RnrTail16k {
  static constexpr int N = 160, B = 89, K = 257;
  std::array<std::int16_t, N> prevIn;
  std::array<std::int16_t, N> overlapBuf;
  std::array<std::int16_t, B> bandSmoothCoef;
  std::uint16_t coefGuard16;
  std::uint32_t coefGuard;
  std::array<GuardedI16<B>, 2> reservedI16;
  std::array<std::int16_t, B> bandSmoothGain;
  std::uint16_t gainGuard16;
  vocrel::Ref32 mcraSpecPtr;
  std::array<std::int32_t, B> noiseEst;
  std::uint32_t noiseGuard;
  std::array<GuardedI32<B>, 2> reservedI32;
  std::array<std::int16_t, K> gainBin;
  std::uint16_t binGuard16;
  std::uint32_t endGuard;
};

inline constexpr std::size_t kTailBytes = 6860 - 3884;

union RnrTail {
  RnrTail8k r8;
  RnrTail16k r16;
  std::array<std::uint8_t, kTailBytes> raw;
};

}  // namespace vocrel::rnr

struct RnrChanState {
  std::uint32_t guard0;
  std::uint32_t guard1;
  std::int32_t stateSize;
  std::int32_t reserved0;
  std::int32_t sampleRate;
  std::int16_t channels;
  std::int16_t reserved1;
  std::int16_t winLen;
  std::int16_t frameLen;
  std::int16_t fftSize;
  std::int16_t reserved2;
  std::int16_t minGain;        // Q15
  std::int16_t maxNrNegDb;     // -maxNr, dB
  std::int16_t hpFilterOn;     // 0/1
  std::int16_t bandEnergyThr;  // total-noise threshold, units of 32768
  std::int16_t vad3On;         // 0/1
  std::array<std::int16_t, 3> reserved3;
  vocrel::Ref32 fftSpecA;  // byte offset of the 256-point set-up
  vocrel::Ref32 fftSpecB;  // byte offset of the fftSize-point set-up
  std::uint32_t harmonicRun;
  std::uint32_t harmonicHold;
  std::int32_t levelTrack;   // slow frame-level tracker
  std::int32_t frameEnergy;  // sum of x^2 >> 7 over the filtered frame
  std::int16_t lowLevelHold;
  std::int16_t lowLevelRun;
  std::int32_t levelFloor;
  std::array<std::array<std::int32_t, vocrel::rnr::kSubWindows>, vocrel::rnr::kMaxBands> mcraSubMin;
  std::array<std::int32_t, vocrel::rnr::kMaxBands> mcraCurMin;
  std::array<std::int32_t, vocrel::rnr::kMaxBands> mcraMin;
  std::uint8_t mcraSubCnt;
  std::uint8_t mcraSubIdx;
  std::int16_t reserved4;
  std::uint16_t lowNoiseCnt;
  std::int16_t lowNoiseHang;
  std::int32_t reserved5;
  std::array<std::int16_t, vocrel::rnr::kLowFlagBands> bandHang;
  std::array<std::int16_t, vocrel::rnr::kLowFlagBands> bandRun;
  std::uint32_t frameCnt;
  std::uint16_t vad2HistIdx;
  std::int16_t reserved6;
  vocrel::dsp::HpState hp;  // pre-filter memory and its table codes
  vocrel::Ref32 winCoef;
  std::int16_t vad1StatCnt;
  std::int16_t vad1SameCnt;
  std::array<std::int32_t, vocrel::rnr::kVad2HistLen> vad2Hist;
  std::array<std::int16_t, 3> reserved8;
  std::int16_t vad1PrevCnt;
  std::int16_t reserved9;
  std::int16_t hiNoiseRun;
  std::int16_t loNoiseRun;
  std::int16_t bandSmoothWeight;  // Q15
  std::array<std::int32_t, vocrel::rnr::kMaxBins> prevMag;
  std::int32_t reserved10;
  std::array<std::int32_t, vocrel::rnr::kVad1Bands> vad1LogSpec;  // Q15
  std::uint32_t midGuard;
  vocrel::rnr::RnrTail tail;
};

static_assert(sizeof(RnrChanState) == 6860, "channel state is 6860 bytes");
static_assert(alignof(RnrChanState) == 4, "channel state is word aligned");
static_assert(offsetof(RnrChanState, sampleRate) == 16);
static_assert(offsetof(RnrChanState, fftSpecA) == 48);
static_assert(offsetof(RnrChanState, levelFloor) == 76);
static_assert(offsetof(RnrChanState, mcraSubMin) == 80);
static_assert(offsetof(RnrChanState, mcraSubCnt) == 2216);
static_assert(offsetof(RnrChanState, bandHang) == 2228);
static_assert(offsetof(RnrChanState, frameCnt) == 2260);
static_assert(offsetof(RnrChanState, hp) + offsetof(vocrel::dsp::HpState, y2) == 2276);
static_assert(offsetof(RnrChanState, vad2Hist) == 2300);
static_assert(offsetof(RnrChanState, vad1PrevCnt) == 2706);
static_assert(offsetof(RnrChanState, prevMag) == 2716);
static_assert(offsetof(RnrChanState, vad1LogSpec) == 3748);
static_assert(offsetof(RnrChanState, midGuard) == 3880);
static_assert(offsetof(RnrChanState, tail) == 3884);
// Guard words of the 8 kHz tail (record offsets).
static_assert(offsetof(vocrel::rnr::RnrTail8k, coefGuard) + 3884 == 4320);
static_assert(offsetof(vocrel::rnr::RnrTail8k, reservedWide) + 3884 == 4444);
static_assert(offsetof(vocrel::rnr::RnrTail8k, mcraSpecPtr) + 3884 == 4744);
static_assert(offsetof(vocrel::rnr::RnrTail8k, noiseEst) + 3884 == 4748);
static_assert(offsetof(vocrel::rnr::RnrTail8k, gainBin) + 3884 == 5444);
static_assert(offsetof(vocrel::rnr::RnrTail8k, endGuard) + 3884 == 5704);
static_assert(sizeof(vocrel::rnr::RnrTail8k) + 3884 == 5708);
// Guard words of the 16 kHz tail: the closing guard ends the record.
static_assert(offsetof(vocrel::rnr::RnrTail16k, coefGuard) + 3884 == 4704);
static_assert(offsetof(vocrel::rnr::RnrTail16k, mcraSpecPtr) + 3884 == 5256);
static_assert(offsetof(vocrel::rnr::RnrTail16k, noiseEst) + 3884 == 5260);
static_assert(offsetof(vocrel::rnr::RnrTail16k, gainBin) + 3884 == 6340);
static_assert(offsetof(vocrel::rnr::RnrTail16k, endGuard) + 3884 == 6856);
static_assert(sizeof(vocrel::rnr::RnrTail16k) + 3884 == 6860);
