// Per-frame entry point: checks the instance and the caller's descriptor,
// counts the frame and routes it to the path chosen at initialisation.
#include <cstdint>
#include <cstring>

#include "api/api.h"
#include "base/checks.h"
#include "base/trace.h"
#include "fnr/fnr.h"
#if VOCREL_MODE1
#include "rnr/rnr.h"
#endif

using namespace vocrel;

namespace {

// Trace codes written around a floor-noise frame.
constexpr std::uint32_t kTraceFnrBegin = 273;
constexpr std::uint32_t kTraceFnrEnd = 546;
#if VOCREL_MODE1
// Trace code written before each environment-noise channel frame.
constexpr std::uint32_t kTraceRnrChannel = 1;
#endif

std::uint32_t read_word(const char* inst, std::size_t offset) {
  std::uint32_t v;
  std::memcpy(&v, inst + offset, sizeof v);
  return v;
}

std::int32_t apply_floor_noise(char* inst, const Vocrel_RNR_FrameIo& io,
                               Vocrel_RNR_TraceRec* trace) {
  auto* st = reinterpret_cast<FnrState*>(inst + kPathStateOffset);
  Vocrel_RNR_TraceRec local;
  if (trace == nullptr) {
    local.base = 0;
    clear_trace(&local);
  }
  Vocrel_RNR_TraceRec* rec = trace != nullptr ? trace : &local;
  fnr::begin_frame(st, trace != nullptr ? 1 : 0);
  write_trace(rec, kTraceFnrBegin);
  const std::int16_t* in[2] = {io.inCh0, io.inCh1};
  std::int16_t* out[2] = {io.outCh0, io.outCh1};
  fnr::process(st, in, out);  // the state and every buffer were checked by Apply
  write_trace(rec, kTraceFnrEnd);
  return VOCREL_RNR_OK;
}

// The path state must agree with the header on everything the driver sizes its
// loops by (rate, channel count, FFT references, check value). A state that
// does not is treated like one with a broken guard word, before anything is
// written, the trace record included.
bool path_state_consistent(const char* inst, const RnrInstHeader& h) {
  if (h.mode == 0) {
    const auto* st = reinterpret_cast<const FnrState*>(inst + kPathStateOffset);
    return fnr::state_consistent(st, h.sampleRate, h.channels);
  }
#if VOCREL_MODE1
  for (int c = 0; c < h.channels; ++c) {
    const auto* st = reinterpret_cast<const RnrChanState*>(inst + kRnrChanOffset(c));
    if (!rnr::state_consistent(st, h.sampleRate, c)) return false;
  }
  return true;
#else
  return false;  // no environment-noise state can exist in this build
#endif
}

#if VOCREL_MODE1

std::int32_t apply_environment_noise(char* inst, const RnrInstHeader& h,
                                     const Vocrel_RNR_FrameIo& io, Vocrel_RNR_TraceRec* trace) {
  RnrChanState* states[2];
  for (int c = 0; c < h.channels; ++c) {
    states[c] = reinterpret_cast<RnrChanState*>(inst + kRnrChanOffset(c));
  }
  const std::int16_t* in[2] = {io.inCh0, io.inCh1};
  std::int16_t* out[2] = {io.outCh0, io.outCh1};
  for (int c = 0; c < h.channels; ++c) {
    rnr::advance_frame(states[c]);
    if (!rnr::guards_intact(states[c])) return VOCREL_RNR_E_CORRUPT;
    if (trace != nullptr) write_trace(trace, kTraceRnrChannel);
    // The state was checked against the header (rate, references) and its
    // guards just now, and every buffer by Apply.
    rnr::process(states[c], in[c], out[c], trace);
  }
  return VOCREL_RNR_OK;
}
#endif

}  // namespace

namespace vocrel::api {

// Only channel counts the header can legally hold are walked for the
// buffers; any other value is caught with the guard checks.
std::int32_t check_frame_call(const void* handle, const Vocrel_RNR_FrameIo* io) {
  if (handle == nullptr) return VOCREL_RNR_E_NULL_HANDLE;
  const char* inst = static_cast<const char*>(handle);
  const auto& h = *reinterpret_cast<const RnrInstHeader*>(inst);
  if (h.magic != kMagic) return VOCREL_RNR_E_MAGIC;
  if (io == nullptr) return VOCREL_RNR_E_NULL_FRAME;
  const std::int16_t* const ins[2] = {io->inCh0, io->inCh1};
  std::int16_t* const outs[2] = {io->outCh0, io->outCh1};
  const int channels = h.channels == 2 ? 2 : 1;
  for (int c = 0; c < channels; ++c) {
    if (ins[c] == nullptr) return VOCREL_RNR_E_NULL_INPUT;
    if (outs[c] == nullptr) return VOCREL_RNR_E_NULL_OUTPUT;
  }
  if (io->frameLen != h.frameLen) return VOCREL_RNR_E_FRAME_LEN;
  if (h.guard != kGuard || read_word(inst, kEndGuardOffset) != kGuard) return VOCREL_RNR_E_CORRUPT;
  if (!header_consistent(h) || !path_state_consistent(inst, h)) return VOCREL_RNR_E_CORRUPT;
  return VOCREL_RNR_OK;
}

std::int32_t apply_frame(void* handle, const Vocrel_RNR_FrameIo& io, Vocrel_RNR_TraceRec* trace) {
  char* inst = static_cast<char*>(handle);
  if (trace != nullptr) clear_trace(trace);
#if VOCREL_MODE1
  const auto& h = *reinterpret_cast<const RnrInstHeader*>(inst);
  if (h.mode != 0) return apply_environment_noise(inst, h, io, trace);
#endif
  return apply_floor_noise(inst, io, trace);
}

}  // namespace vocrel::api
