// The public C entries, each a forward to the routine in vocrel::api that
// does the work (instance.cpp, apply.cpp, params.cpp, status_text.cpp). Each
// entry checks the caller's arguments and the instance here, once, and
// returns the status that refuses the call; the routines trust what they are
// given. Every entry but the frame entry is built for size (cold): none runs
// per frame.
#include <cstdint>

#include "api/api.h"
#include "api/params.h"
#include "base/layout.h"
#include "vocrel_rnr.h"

using namespace vocrel;

namespace {

// The magic word of an instance whose handle is not null.
bool initialised(const void* handle) {
  return static_cast<const RnrInstHeader*>(handle)->magic == kMagic;
}

}  // namespace

extern "C" {

// ---- instance -------------------------------------------------------------------

[[gnu::cold]] std::int32_t Vocrel_RNR_GetSize(Vocrel_RNR_MemInfo* info,
                                              const Vocrel_RNR_StreamCfg* stream) {
  if (info == nullptr) return VOCREL_RNR_E_NULL_MEMINFO;
  if (stream == nullptr) return VOCREL_RNR_E_NULL_STREAM;
  const std::int32_t st = check_stream(stream->sampleRate, stream->channels, stream->mode);
  if (st != VOCREL_RNR_OK) return st;
  api::fill_mem_info(info, stream->sampleRate);
  return VOCREL_RNR_OK;
}

[[gnu::cold]] std::int32_t Vocrel_RNR_Init(void** handle, void* mem, std::uint32_t memSize,
                                           const Vocrel_RNR_Params* params) {
  if (handle == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  if (mem == nullptr) return VOCREL_RNR_E_NULL_MEM;
  if (params == nullptr) return VOCREL_RNR_E_NULL_PARAMS;
  std::int32_t st = check_stream(params->sampleRate, params->channels, params->mode);
  if (st != VOCREL_RNR_OK) return st;
  st = check_tunables(*params);
  if (st != VOCREL_RNR_OK) return st;
  if (memSize < kMemSize) return VOCREL_RNR_E_MEM_SIZE;
  *handle = api::init_instance(mem, *params);
  return VOCREL_RNR_OK;
}

// ---- frames -----------------------------------------------------------------------

std::int32_t Vocrel_RNR_Apply(void* handle, const Vocrel_RNR_FrameIo* io,
                              Vocrel_RNR_TraceRec* trace) {
  const std::int32_t st = api::check_frame_call(handle, io);
  if (st != VOCREL_RNR_OK) return st;
  return api::apply_frame(handle, *io, trace);
}

// ---- tunables -----------------------------------------------------------------------

[[gnu::cold]] std::int32_t Vocrel_RNR_GetParams(void* handle, Vocrel_RNR_Params* params) {
  if (handle == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  if (params == nullptr) return VOCREL_RNR_E_NULL_PARAMS;
  if (!initialised(handle)) return VOCREL_RNR_E_MAGIC;
  api::read_tunables(handle, params);
  return VOCREL_RNR_OK;
}

[[gnu::cold]] std::int32_t Vocrel_RNR_SetParams(void* handle, const Vocrel_RNR_Params* params) {
  if (handle == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  if (params == nullptr) return VOCREL_RNR_E_NULL_PARAMS;
  if (!initialised(handle)) return VOCREL_RNR_E_MAGIC;
  const auto* h = static_cast<const RnrInstHeader*>(handle);
  if (params->sampleRate != h->sampleRate || params->channels != h->channels ||
      params->mode != h->mode) {
    return VOCREL_RNR_E_STREAM_CHANGED;
  }
  if (const std::int32_t st = check_tunables(*params); st != VOCREL_RNR_OK) return st;
  api::take_tunables(handle, *params);
  return VOCREL_RNR_OK;
}

[[gnu::cold]] std::int32_t Vocrel_RNR_WtMaxNr(std::int32_t depthDb) {
  return api::min_gain_for_depth(depthDb);
}
[[gnu::cold]] std::int32_t Vocrel_RNR_RdMaxNr(std::int32_t gainQ15) {
  return api::depth_for_min_gain(gainQ15);
}
[[gnu::cold]] std::int32_t Vocrel_RNR_WtNrFactor(std::int32_t index) {
  return api::nr_factor_for_index(index);
}
[[gnu::cold]] std::int32_t Vocrel_RNR_RdNrFactor(std::int32_t factorQ15) {
  return api::index_for_nr_factor(factorQ15);
}

// ---- version and status texts ------------------------------------------------------

[[gnu::cold]] std::int32_t Vocrel_RNR_GetVersion(const Vocrel_RNR_Version** version) {
  if (version == nullptr) return VOCREL_RNR_E_NULL_VERSION;
  *version = api::version();
  return VOCREL_RNR_OK;
}

[[gnu::cold]] const char* Vocrel_RNR_StatusText(std::int32_t status) {
  return api::status_text(status);
}

[[gnu::cold]] const char* Vocrel_RNR_StatusField(std::int32_t status) {
  return api::status_field(status);
}

}  // extern "C"
