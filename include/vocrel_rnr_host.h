/*
 * Vocrel RNR host module interface: the records a host audio framework hands
 * to the module and the exported descriptor through which it finds the three
 * entry points.
 *
 * A host loads libvocrel_rnr.so, looks up g_Audio_RNR_WorkHandle, checks the
 * name "RNR" and calls:
 *
 *   init(&handle, sampleRate, &modeConfig)   -> 0 or a negative status
 *   process(handle, &inFrame, &outFrame)     -> per block of mono 16-bit PCM
 *   deinit(handle)                           -> releases the instance
 *
 * The wrapper allocates its handle record and the engine's instance block with
 * malloc, and reports failures as one coloured line on stderr (then a line
 * "ERROR ID: <status>" after an engine failure).
 *
 * Layouts. On the 32-bit target every field below is one 32-bit word:
 *   TQ_RNR_NrSettings    16 bytes  (same on every target)
 *   TQ_RNR_ModeConfig    16 bytes  (settings address in word 3)
 *   TQ_RNR_AudioFrame    20 bytes  (data address word 0, length word 4)
 *   TQ_RNR_ModuleDesc    40 bytes  (name 0..27, init 28, process 32, deinit 36)
 * On 64-bit hosts the fields that hold an address (or an opaque value the
 * host may use as one) are native 8-byte pointers at their natural
 * alignment; plain 32-bit words stay 32-bit:
 *   TQ_RNR_ModeConfig    24 bytes  (settings address at byte 16)
 *   TQ_RNR_AudioFrame    32 bytes  (data 0, tag 8, unused 16 and 20, length 24)
 *   TQ_RNR_ModuleDesc    56 bytes  (name 0..27, init 32, process 40, deinit 48)
 * The engine's own records (tunables, instance memory) are the same on every
 * target; only these host-facing records follow the host's pointer size.
 *
 * Usable from C99 and C++.
 */
#ifndef VOCREL_RNR_HOST_H
#define VOCREL_RNR_HOST_H

#include <stdint.h>

#include "vocrel_rnr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Noise-reduction settings the mode configuration points at (four words). */
typedef struct TQ_RNR_NrSettings {
  int32_t useCustom;  /* 0: wrapper defaults (mode 0, 10 dB, -50 dB); else the words below */
  int32_t mode;       /* 0 floor-noise path, 1 environment-noise path (8/16 kHz only) */
  int32_t maxNrDb;    /* passed as maxNr: 2..20 */
  int32_t levelThrDb; /* passed as levelThrDb: -80..-20 */
} TQ_RNR_NrSettings;

/* Host mode configuration. The wrapper reads only nrSettings; the first three
 * words belong to the host framework. */
typedef struct TQ_RNR_ModeConfig {
  int32_t hostWords[3];
  const TQ_RNR_NrSettings* nrSettings;
} TQ_RNR_ModeConfig;

/* One block of mono 16-bit PCM. Process copies tag and lengthBytes from the
 * input record to the output record and writes lengthBytes of cleaned audio
 * to the output's data. The block should hold a whole number of frames of the
 * instance's frame length; a trailing partial frame is left unprocessed. */
typedef struct TQ_RNR_AudioFrame {
  int16_t* data;
  uintptr_t tag; /* opaque to the module, copied input -> output */
  uint32_t unused[2];
  uint32_t lengthBytes; /* bytes of data */
} TQ_RNR_AudioFrame;

typedef int32_t (*TQ_RNR_InitFn)(void** handle, int32_t sampleRate,
                                 const TQ_RNR_ModeConfig* pstModeConfig);
typedef int32_t (*TQ_RNR_ProcessFn)(void* handle, const TQ_RNR_AudioFrame* in,
                                    TQ_RNR_AudioFrame* out);
typedef int32_t (*TQ_RNR_DeInitFn)(void* handle);

/* Module descriptor: NUL-padded name and the three entry points. */
#define TQ_RNR_MODULE_NAME_LEN 28
typedef struct TQ_RNR_ModuleDesc {
  char name[TQ_RNR_MODULE_NAME_LEN]; /* "RNR" */
  TQ_RNR_InitFn init;
  TQ_RNR_ProcessFn process;
  TQ_RNR_DeInitFn deinit;
} TQ_RNR_ModuleDesc;

VOCREL_RNR_API extern const TQ_RNR_ModuleDesc g_Audio_RNR_WorkHandle;

/* Creates an instance for mono audio at sampleRate (8000, 16000 or 48000).
 * With the floor-noise mode at 8 or 16 kHz the engine runs its 48 kHz
 * configuration on the host's samples, 480 samples per frame. On failure
 * nothing stays allocated and *handle is left alone. */
VOCREL_RNR_API int32_t TQ_RNR_Init(void** handle, int32_t sampleRate,
                                   const TQ_RNR_ModeConfig* pstModeConfig);

/* Cleans one block, frame by frame. Returns 0 or the first failing engine
 * status (frames before it stay written). Null records give -1 silently. */
VOCREL_RNR_API int32_t TQ_RNR_Process(void* handle, const TQ_RNR_AudioFrame* in,
                                      TQ_RNR_AudioFrame* out);

/* Releases the instance; a null handle is accepted. Returns 0. */
VOCREL_RNR_API int32_t TQ_RNR_DeInit(void* handle);

#ifdef __cplusplus
}
#endif

#endif /* VOCREL_RNR_HOST_H */
