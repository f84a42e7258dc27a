// Helpers of the environment-noise tests: a reset channel state outside any
// instance, a mode-1 instance with access to its channel states, and frame
// loops through the public API.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "api/instance.h"
#include "api_test_util.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"
#include "rnr/rnr_view.h"
#include "vocrel_rnr.h"

namespace rnr_test {

inline Vocrel_RNR_Params env_params(int rate, int channels = 1, int maxNr = 15) {
  Vocrel_RNR_Params p = vocrel_test::params_for(rate, channels, 1);
  p.maxNr = maxNr;
  return p;
}

// A channel state in its start state, for stages that need no transform.
struct LoneState {
  explicit LoneState(int rate, int vad3On = 0) : mem(new RnrChanState) {
    Vocrel_RNR_Params p = env_params(rate);
    p.vad3On = vad3On;
    Vocrel_RNR_ResetConfig(mem.get(), &p, sizeof(RnrChanState));
  }
  RnrChanState* operator->() { return mem.get(); }
  RnrChanState* get() { return mem.get(); }
  vocrel::rnr::RateView view() { return vocrel::rnr::view_of(mem.get()); }
  std::unique_ptr<RnrChanState> mem;
};

// A mode-1 instance fed frame by frame through Vocrel_RNR_Apply.
struct EnvInstance {
  explicit EnvInstance(const Vocrel_RNR_Params& p) : inst(p), N(p.sampleRate / 100) {}
  RnrChanState* chan(int c) {
    return reinterpret_cast<RnrChanState*>(static_cast<char*>(inst.handle) +
                                           vocrel::kRnrChanOffset(c));
  }
  std::int32_t frame(const std::int16_t* in0, std::int16_t* out0, const std::int16_t* in1 = nullptr,
                     std::int16_t* out1 = nullptr, Vocrel_RNR_TraceRec* trace = nullptr) {
    Vocrel_RNR_FrameIo io{in0, in1, static_cast<std::uint32_t>(N), out0, out1};
    return Vocrel_RNR_Apply(inst.handle, &io, trace);
  }
  // Mono stream, whole frames; returns the output (one frame of lag).
  std::vector<std::int16_t> run(const std::vector<std::int16_t>& in) {
    std::vector<std::int16_t> out(in.size(), 0);
    for (std::size_t f = 0; f + N <= in.size(); f += N) frame(in.data() + f, out.data() + f);
    return out;
  }
  vocrel_test::Instance inst;
  std::size_t N;
};

}  // namespace rnr_test
