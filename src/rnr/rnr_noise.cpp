// Noise estimation: minima-controlled recursive averaging. The frame spectrum
// at band resolution (mcraSpec) is tracked for its minimum over four 20-frame
// sub-windows; the noise estimate follows the harmonic-valley spectrum in
// bands 0..32 and the frame spectrum above, in every band during noise
// frames and only in speech-free bands during speech.
#include <algorithm>
#include <array>

#include "math/constants.h"
#include "math/fixed.h"
#include "math/vocrel_math.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"

namespace {

using namespace vocrel;
using namespace vocrel::rnr;

// Band magnitudes are 256 times the DFT magnitude; 65536 is the reference
// level of the rules below.
constexpr std::int32_t kFirstMinLow = 3276800;   // 50 x 65536, bands 0..32
constexpr std::int32_t kFirstMinHigh = 1638400;  // 25 x 65536, bands 33..
constexpr std::uint8_t kSubWindowFrames = 20;
constexpr std::int32_t kLowNoiseFloor = 1710;
constexpr std::uint16_t kLowNoiseCntMax = 1000;
constexpr std::int16_t kLowNoiseHang = 10;

constexpr std::int32_t kHarmonicCeiling = 90000;
constexpr std::int32_t kVad3CeilingLow = 327680;   // 5 x 65536
constexpr std::int32_t kVad3CeilingHigh = 163840;  // 2.5 x 65536
constexpr std::int32_t kVad2HistPrime = 20480;
constexpr std::uint32_t kInitFrames = 2;
constexpr std::uint32_t kVad3StartFrame = 100;

constexpr std::int16_t kWeightNoise = math::q15(0.1);
constexpr std::int16_t kWeightHarmonic = math::q15(0.075);
constexpr std::int32_t kWeightSlowQ31 = math::q15(0.05) << 16;  // 0.05 in Q15, placed in Q31
constexpr std::int32_t kReferenceLevel = 65536;
static_assert(kWeightNoise == 3277 && kWeightHarmonic == 2458 && kWeightSlowQ31 == 107347968);

constexpr std::int16_t kThrLow = 6144;    // 1.5 x 4096, bands 0..31
constexpr std::int16_t kThrMid = 8192;    // 2.0, bands 32..47
constexpr std::int16_t kThrHigh = 10240;  // 2.5, bands 48..
constexpr int kMidFirst = 32;
constexpr int kHighFirst = 48;
constexpr std::int16_t kBandRunMin = 6;
constexpr std::int16_t kBandHang = 10;
constexpr int kRebuiltBands = 24;  // bands 33..56 from the smoothed bins

// One band of the recursive average towards target t with Q15 weight c.
std::int32_t update_band(std::int32_t est, std::int32_t t, std::int16_t c, bool guarded) {
  const std::int32_t d = sub_sat32(t, est);
  const std::int32_t w = std::int32_t{c} * 65536;
  if (!guarded) return add_sat32(est, mul_dbl_hi32(d, w));
  // A target far below the estimate and below the reference pulls it down at
  // 0.05 whatever c is; the product is truncated before the doubling here.
  const std::int32_t wg = (t < kReferenceLevel && t < (est >> 2)) ? kWeightSlowQ31 : w;
  return add_sat32(est, sat32(2 * ((std::int64_t{d} * wg) >> 32)));
}

std::int32_t band_target(int k, const std::int32_t* specValley, const std::int32_t* mcraSpec) {
  return k < kLowBands ? specValley[k] : mcraSpec[k];
}

}  // namespace

namespace vocrel::rnr {

void track_minima(RnrChanState* st, const std::int32_t* mcraSpec) {
  const RateView v = view_of(st);
  const int n = v.B;
  if (st->frameCnt <= 1) {
    for (int k = 0; k < n; ++k) {
      const std::int32_t m = std::min(mcraSpec[k], k < kLowBands ? kFirstMinLow : kFirstMinHigh);
      st->mcraCurMin[k] = m;
      st->mcraMin[k] = m;
      st->mcraSubMin[k].fill(m);
    }
    ++st->mcraSubCnt;
  } else {
    for (int k = 0; k < n; ++k) {
      st->mcraCurMin[k] = std::min(st->mcraCurMin[k], mcraSpec[k]);
      st->mcraMin[k] = std::min(st->mcraMin[k], mcraSpec[k]);
    }
    ++st->mcraSubCnt;  // modulo 256
    if (st->mcraSubCnt == kSubWindowFrames) {
      const int idx = st->mcraSubIdx < kSubWindows ? st->mcraSubIdx : 0;
      for (int k = 0; k < n; ++k) {
        auto& sub = st->mcraSubMin[k];
        sub[idx] = st->mcraCurMin[k];
        st->mcraMin[k] = std::min(std::min(sub[0], sub[1]), std::min(sub[2], sub[3]));
        st->mcraCurMin[k] = mcraSpec[k];
      }
      st->mcraSubCnt = 0;
      st->mcraSubIdx = static_cast<std::uint8_t>(idx + 1 == kSubWindows ? 0 : idx + 1);
    }
  }

  // Weighted floor energy: high bands count far more than low ones.
  std::int32_t sum = 0;
  for (int k = 0; k < n; ++k) {
    const std::int32_t t = sat32(2 * ((std::int64_t{v.bandW[k]} * st->mcraMin[k]) >> 15));
    sum = add_sat32(sum, mul_dbl_hi32(t, t));
  }
  const std::int32_t floorPower = sat32(2 * std::int64_t{sum});
  if (floorPower < kLowNoiseFloor) {
    st->lowNoiseCnt = std::min<std::uint16_t>(st->lowNoiseCnt + 1, kLowNoiseCntMax);
    st->lowNoiseHang = kLowNoiseHang;
  } else if (st->lowNoiseHang <= 0) {
    st->lowNoiseCnt = 0;
  } else {
    --st->lowNoiseHang;
  }
}

void band_speech_flags(RnrChanState* st, const std::int32_t* mcraSpec, std::int16_t* flags,
                       std::int32_t bandCnt) {
  const RateView v = view_of(st);
  const int n = std::clamp<std::int32_t>(bandCnt, 0, v.B);
  const bool quiet = st->lowNoiseCnt != 0;
  for (int k = 0; k < n; ++k) {
    std::int16_t t = kThrLow;
    if (!quiet) t = k < kMidFirst ? kThrLow : (k < kHighFirst ? kThrMid : kThrHigh);
    const std::int32_t floorScaled = sat32(2 * ((std::int64_t{st->mcraMin[k]} * t) >> 16));
    flags[k] = floorScaled < (mcraSpec[k] >> 3) ? 1 : 0;
  }
  for (int k = 0; k < std::min(n, kLowFlagBands); ++k) {
    if (flags[k] == 1) {
      st->bandRun[k] = lo16(std::int32_t{st->bandRun[k]} + 1);
      if (st->bandRun[k] > kBandRunMin) st->bandHang[k] = kBandHang;
    } else {
      st->bandRun[k] = 0;
      if (st->bandHang[k] > 0) {
        --st->bandHang[k];
        flags[k] = 1;
      }
    }
  }
}

void estimate_noise(RnrChanState* st, std::int32_t harmonicFlag, std::int32_t vad1,
                    const std::int32_t* specHD, const std::int32_t* specValley,
                    const std::int32_t* specLD, std::int32_t* mcraSpec) {
  const RateView v = view_of(st);
  const int n = v.B;
  std::int32_t* noise = v.noiseEst;
  // bands 33.. = specLD[9..G]: group j covers bins 4j-3..4j, band 33 + i
  // covers bins 33 + 4i..36 + 4i.
  constexpr int kLdOffset = kLowBands - 9;
  for (int k = 0; k < kLowBands; ++k) mcraSpec[k] = specHD[k];
  for (int k = kLowBands; k < n; ++k) mcraSpec[k] = specLD[k - kLdOffset];

  track_minima(st, mcraSpec);

  if (st->frameCnt <= kInitFrames) {
    for (int k = 0; k < kLowBands; ++k) noise[k] = specValley[k];
    for (int k = kLowBands; k < n; ++k) noise[k] = specLD[k - kLdOffset];
    if (harmonicFlag == 1) {
      for (int k = 0; k < n; ++k) noise[k] = std::min(noise[k], kHarmonicCeiling);
    }
    if (st->vad3On == 1) {
      for (int k = 0; k < n; ++k) {
        noise[k] = std::min(noise[k], k < kLowBands ? kVad3CeilingLow : kVad3CeilingHigh);
      }
    }
    st->vad2Hist[0] = kVad2HistPrime;
    return;
  }

  const bool vad3Active = st->vad3On == 1 && st->frameCnt > kVad3StartFrame;
  std::int32_t vad = shape_vad(st, specLD);
  if (vad3Active) vad |= line_fit_vad(st, mcraSpec);

  // Bands 33..56 from the frequency-smoothed bins (mean of four).
  for (int j = 0; j < kRebuiltBands; ++j) {
    const std::int32_t* b = specHD + kLowBands + 4 * j;
    mcraSpec[kLowBands + j] =
        sat32(std::int64_t{b[0] >> 2} + (b[1] >> 2) + (b[2] >> 2) + (b[3] >> 2));
  }

  if (vad1 == 1 || vad == 1) {
    if (st->harmonicRun != 0) return;
    for (int k = 0; k < n; ++k) {
      noise[k] =
          update_band(noise[k], band_target(k, specValley, mcraSpec), kWeightNoise, vad3Active);
    }
    return;
  }
  const std::int16_t c = harmonicFlag == 1 ? kWeightHarmonic : kWeightNoise;
  std::array<std::int16_t, kMaxBands> speech;
  band_speech_flags(st, mcraSpec, speech.data(), n);
  for (int k = 0; k < n; ++k) {
    if (speech[k] == 0) {
      noise[k] = update_band(noise[k], band_target(k, specValley, mcraSpec), c, vad3Active);
    }
  }
}

}  // namespace vocrel::rnr
