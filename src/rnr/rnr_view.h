// Rate-dependent view of a channel state: sizes, tables and the arrays of the
// rate's tail, all derived from the sample rate (8000 selects the 8 kHz set,
// anything else the 16 kHz set), never from the size fields of the record.
#pragma once

#include <cstdint>

#include "dsp/highpass.h"
#include "dsp/window.h"
#include "rnr/rnr_state.h"

namespace vocrel::rnr {

inline constexpr int kCepsLen = 256;    // cepstral transform length
inline constexpr int kCepsBins = 129;   // bins 0..128 (0..4 kHz)
inline constexpr int kVad1Groups = 32;  // four-bin groups 1..32
inline constexpr int kHighBandFirst = 33;

struct RateView {
  bool wide;  // 16 kHz layout
  int N;      // frame length: 80 / 160
  int W;      // window length: 160 / 320
  int L;      // transform length: 256 / 512
  int K;      // bins L/2 + 1: 129 / 257
  int G;      // low-definition groups L/8: 32 / 64
  int B;      // noise bands 25 + L/8: 57 / 89
  const std::int16_t* win;
  dsp::HpCoefs hp;
  const std::int16_t* bandW;   // noise-floor weight per band
  const std::int16_t* groupW;  // shape-detector weight per group
  std::int16_t* prevIn;
  std::int16_t* overlapBuf;
  std::int16_t* bandSmoothCoef;
  std::int16_t* bandSmoothGain;
  std::int32_t* noiseEst;
  std::int16_t* gainBin;
};

inline bool is_narrow(std::int32_t sampleRate) { return sampleRate == 8000; }

// One rate's view: every size follows from the frame length N and the
// transform length L; the arrays come from that rate's tail of the record.
template <typename Tail>
inline RateView make_view(Tail& t, bool wide, int N, int L, const std::int16_t* win,
                          dsp::HpCoefs hp, const std::int16_t* bandW, const std::int16_t* groupW) {
  return {wide,
          N,
          2 * N,
          L,
          L / 2 + 1,
          L / 8,
          25 + L / 8,
          win,
          hp,
          bandW,
          groupW,
          t.prevIn.data(),
          t.overlapBuf.data(),
          t.bandSmoothCoef.data(),
          t.bandSmoothGain.data(),
          t.noiseEst.data(),
          t.gainBin.data()};
}

inline RateView view_of(RnrChanState* st) {
  if (is_narrow(st->sampleRate)) {
    return make_view(st->tail.r8, false, 80, 256, vocrel_rnr_fftWinCoef_8k.data(),
                     dsp::hp_coefs(true), vocrel_rnr_mcra_powSmCoef_8k.data(),
                     vocrel_rnr_vad2SmCoef_8k.data());
  }
  return make_view(st->tail.r16, true, 160, 512, vocrel_rnr_fftWinCoef_16k.data(),
                   dsp::hp_coefs(false), vocrel_rnr_mcra_powSmCoef_16k.data(),
                   vocrel_rnr_vad2SmCoef_16k.data());
}

// Read-only users get the same view; they never write through it.
inline RateView view_of(const RnrChanState* st) { return view_of(const_cast<RnrChanState*>(st)); }

}  // namespace vocrel::rnr
