/*
 * Vocrel RNR automatic level threshold for the floor-noise mode (mode 0).
 *
 * The floor-noise mode learns noise up to its level threshold (levelThrDb):
 * noise whose total level lies above it is learnt only partly, and at 48 kHz
 * frames more than 10 dB above it do not update the noise estimate at all.
 * The library's default of -55 dB suits quiet rooms only. This helper tracks
 * the noise floor of the input (the quietest frames of the last few seconds)
 * and moves the threshold just above it through Vocrel_RNR_SetParams between
 * frames, which resets nothing, so louder noise is learnt and speech frames,
 * well above the floor, are still kept out of the estimate.
 *
 * Usage: Vocrel_RNR_AutoThrInit once after Vocrel_RNR_Init, then
 * Vocrel_RNR_AutoThrUpdate with each frame's descriptor right before
 * Vocrel_RNR_Apply on that frame. Integer arithmetic only: every platform
 * chooses the same thresholds at the same frames.
 */
#ifndef VOCREL_RNR_AUTOTHR_H
#define VOCREL_RNR_AUTOTHR_H

#include "vocrel_rnr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Window of the floor tracker: 8 blocks of 64 frames (5.12 s). */
#define VOCREL_RNR_AUTOTHR_BLOCKS 8

/* Tracker state, owned by the caller (fixed size, any storage). */
typedef struct Vocrel_RNR_AutoThr {
  int32_t magic;                               /* set by Init */
  int32_t sampleRate;                          /* 8000, 16000 or 48000 */
  int32_t frameLen;                            /* samples per channel per frame */
  int32_t channels;                            /* 1 or 2 */
  int64_t prevEnergy[2];                       /* previous frame's energy per channel */
  int32_t smoothLevelQ5;                       /* smoothed frame level, Q5 dB */
  int32_t blockMinQ5;                          /* minimum of the block being filled */
  int32_t blockFrames;                         /* frames in that block */
  int32_t blocksDone;                          /* completed blocks, saturating at BLOCKS */
  int32_t blockIdx;                            /* next slot of blockMin */
  int32_t blockMin[VOCREL_RNR_AUTOTHR_BLOCKS]; /* minima of the completed blocks, Q5 dB */
  int32_t floorQ5;                             /* noise floor estimate, Q5 dB */
  int32_t thrDb;                               /* threshold in force, whole dB */
  uint32_t frames;                             /* frames seen, saturating */
  uint32_t changes;                            /* threshold changes made, saturating */
  int32_t reserved;                            /* 0; keeps the size a multiple of 8 */
} Vocrel_RNR_AutoThr;

#define VOCREL_RNR_AUTOTHR_E_NULL (-30)  /* state, handle or descriptor is null */
#define VOCREL_RNR_AUTOTHR_E_STATE (-31) /* state not initialised or damaged */

/* Prepares *st for a stream of the given rate and channel count (validated
 * as Vocrel_RNR_GetSize does) starting from thrDb (-80..-20, normally the
 * instance's levelThrDb). Returns 0 or a status; writes nothing on failure. */
VOCREL_RNR_API int32_t Vocrel_RNR_AutoThrInit(Vocrel_RNR_AutoThr* st, int32_t sampleRate,
                                              int32_t channels, int32_t thrDb);

/* Measures the input frame of io, updates the floor and, when the chosen
 * threshold moves, writes it into the instance with Vocrel_RNR_SetParams.
 * Call it before Vocrel_RNR_Apply on the same frame. Returns 0, 1 when the
 * threshold changed on this frame, or a negative status (the engine's from
 * Get/SetParams, or VOCREL_RNR_AUTOTHR_E_*). *thrDb (may be null) receives
 * the threshold in force. */
VOCREL_RNR_API int32_t Vocrel_RNR_AutoThrUpdate(Vocrel_RNR_AutoThr* st, void* handle,
                                                const Vocrel_RNR_FrameIo* io, int32_t* thrDb);

#ifdef __cplusplus
}
#endif

#endif /* VOCREL_RNR_AUTOTHR_H */
