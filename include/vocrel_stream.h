/*
 * Vocrel stream layer: the engine for whole streams, as vocrel-clean, the
 * LADSPA plugin and the Python module use it. Any sample rate libsoxr
 * converts (the engine's own 8, 16 and 48 kHz straight through, others
 * converted to the nearest of them and back with a constant delay), 1 to
 * VOCREL_STREAM_MAX_CHANNELS interleaved channels (each stereo pair, and an
 * odd last channel, an independent engine instance), blocks of any length,
 * the frame feed (automatic threshold, silence hold) around every frame, and
 * output aligned with the input sample for sample. Library libvocrel_stream
 * (it needs libvocrel_rnr and libsoxr); it allocates, the engine does not.
 */
#ifndef VOCREL_STREAM_H
#define VOCREL_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include "vocrel_rnr.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VOCREL_STREAM_MAX_CHANNELS 8

#define VOCREL_STREAM_AUTO_THR 1u     /* mode 0: the level threshold follows the noise floor */
#define VOCREL_STREAM_SILENCE_HOLD 2u /* the learnt noise is kept over digital silence */
#define VOCREL_STREAM_RAW 4u          /* keep the delay instead of aligning the output */
#define VOCREL_STREAM_DEFAULT 3u      /* what the front ends do unless told otherwise */

#define VOCREL_STREAM_E_NULL (-40)      /* a required pointer is null */
#define VOCREL_STREAM_E_RATE (-41)      /* the rate is outside 1000..768000 Hz */
#define VOCREL_STREAM_E_CONVERT (-42)   /* libsoxr cannot convert this rate */
#define VOCREL_STREAM_E_MEMORY (-43)    /* no memory */
#define VOCREL_STREAM_E_FINISHED (-44)  /* the stream has ended */
#define VOCREL_STREAM_E_INDEX (-45)     /* no threshold choice of that number */

typedef struct Vocrel_Stream Vocrel_Stream; /* opaque */

typedef struct Vocrel_StreamInfo {
  int32_t hostRate;       /* the stream's rate */
  int32_t engineRate;     /* the rate the engine runs at */
  int32_t channels;       /* 1..VOCREL_STREAM_MAX_CHANNELS */
  int32_t latency;        /* host samples of delay of the raw stream (aligned: held back) */
  uint64_t engineFrames;  /* 10 ms frames per instance so far */
  uint32_t silentFrames;  /* of those, digital silence (first instance) */
  uint32_t thrChanges;    /* automatic threshold choices made (first instance) */
} Vocrel_StreamInfo;

/* Makes a stream. params: the tunables, mode and channel count (its
 * sampleRate is ignored: hostRate is the stream's). flags: VOCREL_STREAM_*.
 * Returns 0 or a status (the engine's for refused tunables). */
VOCREL_RNR_API int32_t Vocrel_StreamCreate(Vocrel_Stream** stream, int32_t hostRate,
                                           const Vocrel_RNR_Params* params, uint32_t flags);

/* Takes `frames` interleaved frames (in may be null for silence) and makes
 * their output ready; Vocrel_StreamRead hands it out. Returns 0 or a status. */
VOCREL_RNR_API int32_t Vocrel_StreamPush(Vocrel_Stream* stream, const int16_t* in, size_t frames);

/* End of input: the rest of the output is made ready. */
VOCREL_RNR_API int32_t Vocrel_StreamFinish(Vocrel_Stream* stream);

/* Copies up to `capacity` ready frames to out; *frames receives how many. */
VOCREL_RNR_API int32_t Vocrel_StreamRead(Vocrel_Stream* stream, int16_t* out, size_t capacity,
                                         size_t* frames);

/* Changes the tunables (maxNr, hpFilterOn, levelThrDb, levelAdaptOff,
 * vadBandThr of params) between blocks; the automatic threshold keeps
 * choosing unless fixThreshold is nonzero. Nothing changes on a refusal. */
VOCREL_RNR_API int32_t Vocrel_StreamSetParams(Vocrel_Stream* stream,
                                              const Vocrel_RNR_Params* params,
                                              int32_t fixThreshold);

/* The tunables in force in the first instance (the automatic threshold's
 * current choice included). */
VOCREL_RNR_API int32_t Vocrel_StreamGetParams(const Vocrel_Stream* stream,
                                              Vocrel_RNR_Params* params);

VOCREL_RNR_API int32_t Vocrel_StreamGetInfo(const Vocrel_Stream* stream, Vocrel_StreamInfo* info);

/* The automatic threshold's choice number `index` (first instance): the
 * engine frame from which it acts and the threshold in dB. */
VOCREL_RNR_API int32_t Vocrel_StreamThresholdChange(const Vocrel_Stream* stream, uint32_t index,
                                                    uint64_t* frame, int32_t* thrDb);

VOCREL_RNR_API void Vocrel_StreamDestroy(Vocrel_Stream* stream);

#ifdef __cplusplus
}
#endif

#endif /* VOCREL_STREAM_H */
