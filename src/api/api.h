// The routines behind the public entries, each run after its entry has
// checked the caller's arguments and the instance (exports.cpp).
#pragma once

#include <cstdint>

#include "vocrel_rnr.h"

namespace vocrel::api {

// Sizes of the instance block and of a frame at sampleRate (a valid stream).
void fill_mem_info(Vocrel_RNR_MemInfo* info, std::int32_t sampleRate);

// Lays out an instance for checked params in mem (large enough); returns the
// handle, the block's first 8-byte boundary.
void* init_instance(void* mem, const Vocrel_RNR_Params& params);

// 0 when a frame may run on handle with io, else the status that refuses it:
// null handle, magic, null descriptor, null buffers of a used channel, frame
// length, guard words, header or path state inconsistent, in that order.
std::int32_t check_frame_call(const void* handle, const Vocrel_RNR_FrameIo* io);
// One frame on a checked instance and descriptor; trace may be null.
std::int32_t apply_frame(void* handle, const Vocrel_RNR_FrameIo& io, Vocrel_RNR_TraceRec* trace);

// The tunables record of an initialised instance.
void read_tunables(const void* handle, Vocrel_RNR_Params* params);
// New tunables (checked, stream fields unchanged) into the header and the
// path state.
void take_tunables(void* handle, const Vocrel_RNR_Params& params);

// Minimum gain in Q15 for a reduction depth in dB (0..20, clamped) and back
// (21 for a gain no depth gives); the noise-reduction factor in Q15 by index
// (0..7, clamped) and back (8 for none).
std::int32_t min_gain_for_depth(std::int32_t depthDb);
std::int32_t depth_for_min_gain(std::int32_t gainQ15);
std::int32_t nr_factor_for_index(std::int32_t index);
std::int32_t index_for_nr_factor(std::int32_t factorQ15);

// The version record.
const Vocrel_RNR_Version* version();

// What a status code means, in words ("unknown status" for any other value).
const char* status_text(std::int32_t status);

// The tunables-record field a status blames ("" when it blames none).
const char* status_field(std::int32_t status);

}  // namespace vocrel::api
