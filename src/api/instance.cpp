// Memory size query and instance initialisation inside the caller's block.
#include <cstdint>
#include <cstring>

#include "api/api.h"
#include "api/params.h"
#include "base/layout.h"
#include "fft/fft_setup.h"
#include "fnr/fnr.h"
#if VOCREL_MODE1
#include "rnr/rnr.h"
#endif

using namespace vocrel;

namespace {

#if VOCREL_MODE1
constexpr std::int32_t kFftOrder256 = 8;
constexpr std::int32_t kFftOrder512 = 9;
#endif

// The caller's block rounded up to a multiple of 8.
char* align_instance(void* mem) {
  const auto addr = reinterpret_cast<std::uintptr_t>(mem);
  const std::uintptr_t pad = (kInstanceAlign - addr % kInstanceAlign) % kInstanceAlign;
  return static_cast<char*>(mem) + pad;
}

void write_word(char* inst, std::size_t offset, std::uint32_t value) {
  std::memcpy(inst + offset, &value, sizeof value);
}

#if VOCREL_MODE1
// Mode 1: both FFT set-ups and both channel states, whatever the channel count.
// The set-ups cannot fail: the orders are constants within the engine's range.
void init_environment_path(char* inst, const Vocrel_RNR_Params& p) {
  void* specA = inst + kFftSpecAOffset;
  void* specB = inst + kFftSpecBOffset;
  fft::build_setup(specA, kFftOrder256);
  fft::build_setup(specB, p.sampleRate == 16000 ? kFftOrder512 : kFftOrder256);
  for (int c = 0; c < 2; ++c) {
    auto* st = reinterpret_cast<RnrChanState*>(inst + kRnrChanOffset(c));
    rnr::reset_channel(st, &p, static_cast<std::int32_t>(kRnrChanStateBytes));
    rnr::attach_fft(st, specA, specB);
  }
}
#endif

}  // namespace

namespace vocrel::api {

void fill_mem_info(Vocrel_RNR_MemInfo* info, std::int32_t sampleRate) {
  info->memSize = kMemSize;
  info->inFrameLen = frame_len_for_rate(sampleRate);
  info->outFrameLen = info->inFrameLen;
}

void* init_instance(void* mem, const Vocrel_RNR_Params& params) {
  char* inst = align_instance(mem);
  if (params.mode == 1) {
#if VOCREL_MODE1
    init_environment_path(inst, params);
#endif
  } else {
    fnr::init(reinterpret_cast<FnrState*>(inst + kPathStateOffset), inst + kFftSpecAOffset,
              &params);
  }

  auto* h = reinterpret_cast<RnrInstHeader*>(inst);
  h->sampleRate = params.sampleRate;
  h->channels = params.channels;
  h->mode = params.mode;
  h->tunables[0] = params.maxNr;
  h->tunables[1] = params.hpFilterOn;
  h->tunables[2] = params.levelThrDb;
  h->tunables[3] = params.levelAdaptOff;
  h->tunables[4] = params.vadBandThr;
  h->frameLen = frame_len_for_rate(params.sampleRate);
  h->memSize = kMemSize;
  h->magic = kMagic;
  write_word(inst, kEndGuardOffset, kGuard);
  h->guard = kGuard;
  return inst;
}

}  // namespace vocrel::api
