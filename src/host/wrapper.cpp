// Host wrapper: creates an engine instance from the host's mode
// configuration, cuts each host block into engine frames, and releases the
// instance. The only code in the library that allocates or prints.
#include "host/wrapper.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/layout.h"
#include "base/trace.h"
#include "vocrel_rnr_host.h"

using namespace vocrel::host;

namespace {

constexpr const char* kInitName = "TQ_RNR_Init";
constexpr const char* kProcessName = "TQ_RNR_Process";

void report(const char* entry, int line, const char* text) {
  std::fprintf(stderr, "\n\n\033[40m\033[31m\033[1m**Err In %s-%d:  %s**\033[0m\n\n", entry, line,
               text);
}

void report_status(const char* entry, int line, const char* text, std::int32_t status) {
  report(entry, line, text);
  std::fprintf(stderr, "ERROR ID: %d\n", static_cast<int>(status));
}

// Tunables for one wrapper instance; the stream fields and the frame length
// come back through the arguments (the floor-noise mode at 8 or 16 kHz runs
// the engine's 48 kHz configuration, 480 samples per frame).
Vocrel_RNR_Params wrapper_params(std::int32_t sampleRate, const TQ_RNR_NrSettings& s,
                                 std::uint32_t* frameLen) {
  Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  *frameLen = vocrel::frame_len_for_rate(sampleRate);  // 0 for a rate GetSize refuses
  p.vad3On = 0;
  std::memset(p.reserved6, 0, sizeof p.reserved6);
  std::memset(p.reserved15, 0, sizeof p.reserved15);

  if (s.useCustom == 0) {
    p.mode = kDefaultMode;
    p.maxNr = kDefaultMaxNrDb;
    p.levelThrDb = kDefaultLevelThrDb;
  } else {
    p.mode = s.mode;
    p.maxNr = s.maxNrDb;
    p.levelThrDb = s.levelThrDb;
  }

  // The substitution follows the host's mode word whatever the custom flag.
  std::int32_t engineRate = sampleRate;
  if ((sampleRate == 8000 || sampleRate == 16000) && s.mode == 0) {
    engineRate = kFloorNoiseEngineRate;
    *frameLen = vocrel::frame_len_for_rate(kFloorNoiseEngineRate);
  }
  p.sampleRate = engineRate;
  p.channels = 1;
  p.hpFilterOn = kHpFilterOn;
  p.levelAdaptOff = kLevelAdaptOff;
  p.vadBandThr = kVadBandThr;
  return p;
}

}  // namespace

extern "C" {

std::int32_t TQ_RNR_Init(void** handle, std::int32_t sampleRate,
                         const TQ_RNR_ModeConfig* pstModeConfig) {
  if (handle == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  // A configuration without a settings record is as unusable as none.
  if (pstModeConfig == nullptr || pstModeConfig->nrSettings == nullptr) {
    report(kInitName, kLineNullConfig, "pstModeConfig is NULL!");
    return -1;
  }
  const TQ_RNR_NrSettings& s = *pstModeConfig->nrSettings;
  if (s.useCustom != 0 && sampleRate == 48000 && s.mode == 1) {
    report(kInitName, kLineEnvAt48k, "Reducing ENV noise mode not support 48000Hz!");
    return -1;
  }

  auto* h = static_cast<WrapperHandle*>(std::malloc(sizeof(WrapperHandle)));
  if (h == nullptr) {
    report(kInitName, kLineHandleAlloc, "Malloc Fail!");
    return -1;
  }
  clear_allocation(h, sizeof *h);

  const Vocrel_RNR_Params params = wrapper_params(sampleRate, s, &h->frameLen);
  const Vocrel_RNR_StreamCfg stream = {params.sampleRate, params.channels, params.mode};
  Vocrel_RNR_MemInfo info = {};
  std::int32_t status = Vocrel_RNR_GetSize(&info, &stream);
  if (status != VOCREL_RNR_OK) {
    report_status(kInitName, kLineGetSize, "Vocrel_RNR_GetSize Fail!", status);
    std::free(h);
    return status;
  }

  h->memBlock = std::malloc(info.memSize);
  if (h->memBlock == nullptr) {
    report(kInitName, kLineBlockAlloc, "Malloc Fail!");
    std::free(h);
    return -1;
  }
  clear_allocation(h->memBlock, info.memSize);

  status = Vocrel_RNR_Init(&h->engine, h->memBlock, info.memSize, &params);
  if (status != VOCREL_RNR_OK) {
    report_status(kInitName, kLineEngineInit, "Vocrel_RNR_Init Fail!", status);
    std::free(h->memBlock);
    std::free(h);
    return status;
  }

  Vocrel_RNR_Trace_Init(&h->trace);
  *handle = h;
  return VOCREL_RNR_OK;
}

std::int32_t TQ_RNR_Process(void* handle, const TQ_RNR_AudioFrame* in, TQ_RNR_AudioFrame* out) {
  if (handle == nullptr || in == nullptr || out == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  auto* h = static_cast<WrapperHandle*>(handle);
  out->lengthBytes = in->lengthBytes;
  out->tag = in->tag;
  h->trace.base = kTraceBase;

  Vocrel_RNR_FrameIo io = {};
  io.inCh0 = in->data;
  io.outCh0 = out->data;
  io.frameLen = h->frameLen;

  // Whole frames only: a trailing partial frame would run past the block.
  std::uint32_t remaining = in->lengthBytes / 2;
  while (io.frameLen != 0 && remaining >= io.frameLen) {
    const std::int32_t status = Vocrel_RNR_Apply(h->engine, &io, &h->trace);
    if (status != VOCREL_RNR_OK) {
      report_status(kProcessName, kLineApply, "Vocrel_RNR_Apply Fail!", status);
      return status;
    }
    remaining -= io.frameLen;
    io.inCh0 += io.frameLen;
    io.outCh0 += io.frameLen;
  }
  return VOCREL_RNR_OK;
}

std::int32_t TQ_RNR_DeInit(void* handle) {
  if (handle == nullptr) return VOCREL_RNR_OK;
  auto* h = static_cast<WrapperHandle*>(handle);
  std::free(h->memBlock);
  std::free(h);
  return VOCREL_RNR_OK;
}

}  // extern "C"
