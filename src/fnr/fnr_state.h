// Floor-noise path state records. The layout is fixed byte for byte and is
// the same on every target: "pointer" fields are 32-bit words (self-relative
// byte offsets or table codes, see src/base/layout.h), never addresses.
#ifndef VOCREL_FNR_FNR_STATE_H
#define VOCREL_FNR_FNR_STATE_H

#include <cstddef>
#include <cstdint>

#include "dsp/highpass.h"

namespace vocrel {
inline constexpr int32_t kFnrBands = 73;       // bands of the common layout
inline constexpr int32_t kFnrMaxFrame = 480;   // N at 48 kHz
inline constexpr int32_t kFnrTonalBins = 128;  // bins seen by the tonal detector
inline constexpr int32_t kFnrSnapBands = 64;   // bands saved for re-learning
inline constexpr int32_t kFnrToneHist = 40;    // frames of tonal history
}  // namespace vocrel

// Tonal-stability and long-voice detector of one channel (48 kHz only).
struct FnrTonalState {
  uint8_t tonalHist[vocrel::kFnrToneHist];    // 1 = strongly stable frame, newest last
  int32_t prevBinMag[vocrel::kFnrTonalBins];  // bins 0..127 of the previous frame
  int16_t prevResid[vocrel::kFnrTonalBins];   // previous detrended log spectrum, Q7 log2
  int16_t devSm[vocrel::kFnrTonalBins];       // smoothed per-bin stability, Q15
  int32_t devThr;   // adaptive threshold of the summed stability (Q15 sum)
  int16_t flagRun;  // consecutive flagged frames
  int16_t holdCnt;  // hold frames still to grant
  uint8_t latched;  // 1 after a flag run longer than 60 frames
  uint8_t primed;   // 1 once a first frame has been analysed
  int16_t pad0;
};

// Second-order high-pass pre-filter (8/16 kHz).
using FnrHpState = vocrel::dsp::HpState;

// Per-channel state.
struct FnrChanState {
  int16_t inHist[vocrel::kFnrMaxFrame];   // previous N filtered input samples
  int16_t olaTail[vocrel::kFnrMaxFrame];  // second half of the previous windowed output
  int16_t noiseDb;                        // noise floor of the frame level, Q5 dB
  int16_t levelDb;                        // slow average of the frame level, Q5 dB
  int32_t bandMin[vocrel::kFnrBands];     // slow-rising minimum follower
  int32_t bandPeak[vocrel::kFnrBands];    // fast-rising peak follower
  int32_t bandNoise[vocrel::kFnrBands];   // noise magnitude estimate
  int16_t bandGain[vocrel::kFnrBands];    // smoothed band gain, Q15
  int16_t pad0;
  int32_t bandExcess[vocrel::kFnrBands];  // smoothed excess over noise (48 kHz)
  int16_t gainCoef[vocrel::kFnrBands];    // smoothing weight of bandGain, Q15
  int16_t pad1;
  uint32_t noiseRun;                     // consecutive noise frames
  uint32_t activeRun;                    // active frames since the last hangover reset
  int32_t hangCnt;                       // hangover frames granted
  int32_t stillNum;                      // entries of stillList
  int16_t stillList[vocrel::kFnrBands];  // stationary bands of this frame, ascending
  int16_t levelRing[3];                  // frame levels of the last three frames, Q5 dB
  int16_t ringIdx;                       // newest entry of levelRing
  int16_t pad2;
  int32_t bandPrev[vocrel::kFnrBands];   // time-smoothed band magnitudes, previous frame
  int32_t bandFloor[vocrel::kFnrBands];  // floor tracker feeding the noise updates
  FnrTonalState tonal;
  FnrHpState hp;
  uint16_t vadHist;                          // frame decisions, newest in bit 0
  uint16_t relearnOn;                        // re-learning armed
  int32_t relearnCnt;                        // frames since re-learning was armed
  int32_t snapBand[vocrel::kFnrSnapBands];   // band magnitudes at arming
  int32_t snapNoise[vocrel::kFnrSnapBands];  // noise estimates at arming
};

// Floor-noise path state.
struct FnrState {
  int32_t reserved;
  int32_t frameCnt;    // 1 on the first frame; wraps to 1000
  int32_t sampleRate;  // 8000, 16000 or 48000
  uint16_t channels;   // 1 or 2
  int16_t levelThrDb;  // whole dB, -80..-20
  int32_t bandNum;     // 73
  int32_t fftLen;      // M
  int32_t winLen;      // W = 2N
  uint16_t levelAdaptOff;
  uint16_t maxNr;       // dB, 2..20
  uint16_t vadBandThr;  // 45..65
  uint16_t pad0;
  FnrChanState chan[2];
  int32_t flatBandNum;                      // entries of flatBandList
  int16_t flatBandList[vocrel::kFnrBands];  // flat bands, ascending
  int16_t pad1;
  int32_t hpFilterOn;
  int32_t fftSpec;     // self-relative byte offset of the FFT set-up
  int32_t trace;       // 1 while the caller passed a trace record, else 0
  uint8_t initTag[4];  // "ITIV"
  int32_t initCheck;   // 24936
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

#endif  // VOCREL_FNR_FNR_STATE_H
