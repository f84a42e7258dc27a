/*
 * Vocrel RNR frame feed: what the front ends (vocrel-clean, the LADSPA
 * plugin, the Python module) put around Vocrel_RNR_Apply for recordings as
 * people have them.
 *
 * - Automatic level threshold (VOCREL_RNR_FEED_AUTO_THR, floor-noise mode
 *   only): Vocrel_RNR_AutoThrUpdate before each frame (vocrel_rnr_autothr.h).
 * - Silence hold (VOCREL_RNR_FEED_SILENCE_HOLD): digital silence (every
 *   channel's frame at or below -90 dBFS: a mute, a network dropout, an edit,
 *   a file that starts with zeros) carries no noise, yet the engine would
 *   learn it as the noise floor and need seconds to learn the real noise
 *   again; the frames where such silence starts or ends (a run of samples
 *   within one unit of zero in them) are as misleading. So over such a gap
 *   the engine runs on as usual (its output fades out and stays aligned), but
 *   the instance as it stood before the gap is kept in a spare block. When
 *   sound returns after a gap that held digital silence, the kept instance is
 *   copied back with the tunables in force, one frame of zeros is run through
 *   it with its output dropped (so that it too has a silent previous frame and
 *   the output resumes from silence, without a click), then the gap's last
 *   frame if sound began to return inside it (output dropped too: the next
 *   output is that frame, cleaned whole), and the engine goes on from the
 *   noise it knew. Silence before any sound (a recording that starts
 *   with zeros) is dropped from the engine's history altogether: the first
 *   frame with sound meets the instance as initialised. A block of 50 ms or
 *   more stuck at one level (values beyond full scale clipped to one word, a
 *   converter holding its last sample) carries no noise either and is held
 *   over the same way; the threshold tracker skips every stuck frame.
 *
 * The engine's API is not changed by any of this: the feed only calls it,
 * and the instance stays the caller's block. Integer arithmetic only.
 *
 * Usage: Vocrel_RNR_Init, then Vocrel_RNR_FeedInit (again after every
 * Vocrel_RNR_Init of the same block), then Vocrel_RNR_FeedFrame in place of
 * Vocrel_RNR_Apply for each frame. Vocrel_RNR_SetParams may be called between
 * frames as usual.
 */
#ifndef VOCREL_RNR_FEED_H
#define VOCREL_RNR_FEED_H

#include "vocrel_rnr.h"
#include "vocrel_rnr_autothr.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VOCREL_RNR_FEED_AUTO_THR 1u     /* follow the noise floor (mode 0; no effect in mode 1) */
#define VOCREL_RNR_FEED_SILENCE_HOLD 2u /* keep the learnt state over digital silence */
#define VOCREL_RNR_FEED_DEFAULT 3u      /* both: what the front ends do unless told otherwise */

/* Bytes of the spare block that the silence hold keeps the instance in (its
 * 28256 used bytes) and the last frame of a gap (480 samples of 2 channels). */
#define VOCREL_RNR_FEED_SPARE_SIZE 30176u

/* Feed state, owned by the caller (fixed size, any storage). */
typedef struct Vocrel_RNR_Feed {
  Vocrel_RNR_AutoThr thr; /* the threshold tracker, when VOCREL_RNR_FEED_AUTO_THR is in force */
  int32_t magic;          /* set by Init */
  uint32_t flags;         /* the VOCREL_RNR_FEED_* flags in force */
  int32_t thrDb;          /* level threshold in force, whole dB */
  int32_t holding;        /* 0, or 1 or 2 during a gap (the spare block holds the instance
                             before it; 2: and the gap's last frame, not all silent) */
  uint32_t silentRun;     /* silent frames in the current gap, saturating */
  uint32_t silentFrames;  /* frames taken as digital silence, saturating */
  uint32_t holds;         /* silence runs over which the learnt state was kept, saturating */
  uint32_t soundFrames;   /* frames with sound, saturating */
  uint32_t stuckRun;      /* frames stuck at one level in the current gap, saturating */
} Vocrel_RNR_Feed;

#define VOCREL_RNR_FEED_E_STATE (-32) /* feed not initialised or damaged */
#define VOCREL_RNR_FEED_E_SPARE (-33) /* silence hold in force but no spare block */

/* Prepares *feed for the instance `handle` (from Vocrel_RNR_Init) with the
 * given VOCREL_RNR_FEED_* flags. Returns 0 or a status: VOCREL_RNR_AUTOTHR_E_NULL
 * for a null argument, VOCREL_RNR_FEED_E_STATE for flags outside the defined
 * ones, or the engine's from Vocrel_RNR_GetParams. Writes nothing on failure. */
VOCREL_RNR_API int32_t Vocrel_RNR_FeedInit(Vocrel_RNR_Feed* feed, void* handle, uint32_t flags);

/* Cleans one frame as Vocrel_RNR_Apply does, with the feed's flags around it.
 * spare: VOCREL_RNR_FEED_SPARE_SIZE bytes of caller memory, used while the
 * silence hold is in force (may be null otherwise); it must stay the same
 * block for the life of the feed and never overlap the instance.
 * Returns 0, 1 when the automatic threshold changed on this frame, or a
 * negative status (the engine's, or VOCREL_RNR_AUTOTHR_E_* /
 * VOCREL_RNR_FEED_E_*). *thrDb (may be null) receives the threshold in force. */
VOCREL_RNR_API int32_t Vocrel_RNR_FeedFrame(Vocrel_RNR_Feed* feed, void* handle, void* spare,
                                            const Vocrel_RNR_FrameIo* io, int32_t* thrDb);

#ifdef __cplusplus
}
#endif

#endif /* VOCREL_RNR_FEED_H */
