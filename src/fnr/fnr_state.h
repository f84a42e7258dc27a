// Floor-noise path state records. The layout is fixed byte for byte and is
// the same on every target: "pointer" fields are 32-bit words (self-relative
// byte offsets or table codes, see src/base/layout.h), never addresses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/highpass.h"

namespace vocrel {
inline constexpr std::int32_t kFnrBands = 73;       // bands of the common layout
inline constexpr std::int32_t kFnrMaxFrame = 480;   // N at 48 kHz
inline constexpr std::int32_t kFnrTonalBins = 128;  // bins seen by the tonal detector
inline constexpr std::int32_t kFnrSnapBands = 64;   // bands saved for re-learning
inline constexpr std::int32_t kFnrToneHist = 40;    // frames of tonal history
}  // namespace vocrel

// Tonal-stability and long-voice detector of one channel (48 kHz only).
struct FnrTonalState {
  std::uint8_t tonalHist[vocrel::kFnrToneHist];    // 1 = strongly stable frame, newest last
  std::int32_t prevBinMag[vocrel::kFnrTonalBins];  // bins 0..127 of the previous frame
  std::int16_t prevResid[vocrel::kFnrTonalBins];   // previous detrended log spectrum, Q7 log2
  std::int16_t devSm[vocrel::kFnrTonalBins];       // smoothed per-bin stability, Q15
  std::int32_t devThr;   // adaptive threshold of the summed stability (Q15 sum)
  std::int16_t flagRun;  // consecutive flagged frames
  std::int16_t holdCnt;  // hold frames still to grant
  std::uint8_t latched;  // 1 after a flag run longer than 60 frames
  std::uint8_t primed;   // 1 once a first frame has been analysed
  std::int16_t pad0;
};

// Second-order high-pass pre-filter (8/16 kHz).
using FnrHpState = vocrel::dsp::HpState;

// Per-channel state.
struct FnrChanState {
  std::int16_t inHist[vocrel::kFnrMaxFrame];   // previous N filtered input samples
  std::int16_t olaTail[vocrel::kFnrMaxFrame];  // second half of the previous windowed output
  std::int16_t noiseDb;                        // noise floor of the frame level, Q5 dB
  std::int16_t levelDb;                        // slow average of the frame level, Q5 dB
  std::int32_t bandMin[vocrel::kFnrBands];     // slow-rising minimum follower
  std::int32_t bandPeak[vocrel::kFnrBands];    // fast-rising peak follower
  std::int32_t bandNoise[vocrel::kFnrBands];   // noise magnitude estimate
  std::int16_t bandGain[vocrel::kFnrBands];    // smoothed band gain, Q15
  std::int16_t pad0;
  std::int32_t bandExcess[vocrel::kFnrBands];  // smoothed excess over noise (48 kHz)
  std::int16_t gainCoef[vocrel::kFnrBands];    // smoothing weight of bandGain, Q15
  std::int16_t pad1;
  std::uint32_t noiseRun;                     // consecutive noise frames
  std::uint32_t activeRun;                    // active frames since the last hangover reset
  std::int32_t hangCnt;                       // hangover frames granted
  std::int32_t stillNum;                      // entries of stillList
  std::int16_t stillList[vocrel::kFnrBands];  // stationary bands of this frame, ascending
  std::int16_t levelRing[3];                  // frame levels of the last three frames, Q5 dB
  std::int16_t ringIdx;                       // newest entry of levelRing
  std::int16_t pad2;
  std::int32_t bandPrev[vocrel::kFnrBands];   // time-smoothed band magnitudes, previous frame
  std::int32_t bandFloor[vocrel::kFnrBands];  // floor tracker feeding the noise updates
  FnrTonalState tonal;
  FnrHpState hp;
  std::uint16_t vadHist;                          // frame decisions, newest in bit 0
  std::uint16_t relearnOn;                        // re-learning armed
  std::int32_t relearnCnt;                        // frames since re-learning was armed
  std::int32_t snapBand[vocrel::kFnrSnapBands];   // band magnitudes at arming
  std::int32_t snapNoise[vocrel::kFnrSnapBands];  // noise estimates at arming
};

// Floor-noise path state.
struct FnrState {
  std::int32_t reserved;
  std::int32_t frameCnt;    // 1 on the first frame; wraps to 1000
  std::int32_t sampleRate;  // 8000, 16000 or 48000
  std::uint16_t channels;   // 1 or 2
  std::int16_t levelThrDb;  // whole dB, -80..-20
  std::int32_t bandNum;     // 73
  std::int32_t fftLen;      // M
  std::int32_t winLen;      // W = 2N
  std::uint16_t levelAdaptOff;
  std::uint16_t maxNr;       // dB, 2..20
  std::uint16_t vadBandThr;  // 45..65
  std::uint16_t pad0;
  FnrChanState chan[2];
  std::int32_t flatBandNum;                      // entries of flatBandList
  std::int16_t flatBandList[vocrel::kFnrBands];  // flat bands, ascending
  std::int16_t pad1;
  std::int32_t hpFilterOn;
  std::int32_t fftSpec;     // self-relative byte offset of the FFT set-up
  std::int32_t trace;       // 1 while the caller passed a trace record, else 0
  std::uint8_t initTag[4];  // "ITIV"
  std::int32_t initCheck;   // 24936
};

static_assert(sizeof(FnrHpState) == 24);
static_assert(sizeof(FnrTonalState) == 1076);
static_assert(offsetof(FnrTonalState, devThr) == 1064);
static_assert(offsetof(FnrTonalState, primed) == 1073);
static_assert(sizeof(FnrChanState) == 5764);
static_assert(offsetof(FnrChanState, noiseDb) == 1920);
static_assert(offsetof(FnrChanState, bandMin) == 1924);
static_assert(offsetof(FnrChanState, bandGain) == 2800);
static_assert(offsetof(FnrChanState, bandExcess) == 2948);
static_assert(offsetof(FnrChanState, noiseRun) == 3388);
static_assert(offsetof(FnrChanState, stillList) == 3404);
static_assert(offsetof(FnrChanState, ringIdx) == 3556);
static_assert(offsetof(FnrChanState, bandPrev) == 3560);
static_assert(offsetof(FnrChanState, tonal) == 4144);
static_assert(offsetof(FnrChanState, hp) == 5220);
static_assert(offsetof(FnrChanState, vadHist) == 5244);
static_assert(offsetof(FnrChanState, snapBand) == 5252);
static_assert(sizeof(FnrState) == 11736);
static_assert(offsetof(FnrState, chan) == 36);
static_assert(offsetof(FnrState, flatBandNum) == 11564);
static_assert(offsetof(FnrState, hpFilterOn) == 11716);
static_assert(offsetof(FnrState, fftSpec) == 11720);
static_assert(offsetof(FnrState, initTag) == 11728);
static_assert(offsetof(FnrState, initCheck) == 11732);
static_assert(alignof(FnrState) == 4);
