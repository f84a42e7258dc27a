/*
 * Vocrel RNR: speech noise reduction on 16-bit PCM, 10 ms frames at 8, 16 or
 * 48 kHz, mono or stereo, integer fixed point, in one caller-supplied block.
 *
 * Usage: Vocrel_RNR_GetSize -> allocate memSize bytes (any alignment) ->
 * Vocrel_RNR_Init -> Vocrel_RNR_Apply once per frame. There is no release
 * call; the caller owns the block. Every function returns 0 or a negative
 * VOCREL_RNR_E_* status, and writes nothing when it fails.
 *
 * Usable from C99 and C++.
 *
 * The library also exports its internal stages (the Vocrel_RNR_* and Fnr*
 * routines not declared here, and their tables) for tests and tuning tools.
 * They are not part of this interface and have preconditions Apply meets: a
 * state pointer must point into a block laid out by Vocrel_RNR_Init, at that
 * path's own offset, and buffers must have the sizes of the instance's rate.
 * The stages that take a state check it the way Apply does (rate, references
 * into the block, guard words) and return without writing when it fails; any
 * state contents that pass keep them inside the block.
 */
#ifndef VOCREL_RNR_H
#define VOCREL_RNR_H

#include <stdint.h>

#if defined(_WIN32)
#define VOCREL_RNR_API
#else
#define VOCREL_RNR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Instance memory size in bytes, for every configuration. */
#define VOCREL_RNR_MEM_SIZE 28264u

/* Status codes. */
#define VOCREL_RNR_OK 0
#define VOCREL_RNR_E_NULL_HANDLE (-1)     /* handle (or Init's handle pointer) is null */
#define VOCREL_RNR_E_NULL_MEM (-2)        /* Init: memory block is null */
#define VOCREL_RNR_E_MEM_SIZE (-3)        /* Init: block smaller than 28264 bytes */
#define VOCREL_RNR_E_MAGIC (-4)           /* handle does not point at an instance */
#define VOCREL_RNR_E_CORRUPT (-5)         /* a guard word or check value was overwritten */
#define VOCREL_RNR_E_NULL_VERSION (-6)    /* GetVersion: output pointer is null */
#define VOCREL_RNR_E_NULL_PARAMS (-7)     /* tunables record pointer is null */
#define VOCREL_RNR_E_NULL_FRAME (-8)      /* Apply: frame descriptor is null */
#define VOCREL_RNR_E_FRAME_LEN (-9)       /* Apply: frame length differs from the instance's */
#define VOCREL_RNR_E_NULL_MEMINFO (-10)   /* GetSize: output record pointer is null */
#define VOCREL_RNR_E_NULL_STREAM (-11)    /* GetSize: stream record pointer is null */
#define VOCREL_RNR_E_STREAM_CHANGED (-12) /* SetParams: sampleRate, channels or mode differ */
#define VOCREL_RNR_E_SAMPLE_RATE (-13)    /* sampleRate not 8000, 16000 or 48000 */
#define VOCREL_RNR_E_CHANNELS (-14)       /* channels not 1 or 2 */
#define VOCREL_RNR_E_MAX_NR (-15)         /* maxNr outside 2..20 */
#define VOCREL_RNR_E_HP_FILTER (-16)      /* hpFilterOn not 0 or 1 */
#define VOCREL_RNR_E_NULL_INPUT (-17)     /* Apply: input pointer of a used channel is null */
#define VOCREL_RNR_E_NULL_OUTPUT (-18)    /* Apply: output pointer of a used channel is null */
#define VOCREL_RNR_E_LEVEL_THR (-19)      /* levelThrDb outside -80..-20 */
#define VOCREL_RNR_E_LEVEL_ADAPT (-20)    /* levelAdaptOff not 0 or 1 */
#define VOCREL_RNR_E_VAD_BAND_THR (-21)   /* vadBandThr outside 45..65 */
#define VOCREL_RNR_E_MODE (-22)           /* mode not 0 or 1 (nor 1 if built VOCREL_MODE1=OFF) */
#define VOCREL_RNR_E_FFT_INIT (-23)       /* unused: the FFT set-ups cannot fail */
#define VOCREL_RNR_E_MODE_RATE (-24)      /* mode 1 requested at 48000 Hz */

/* Inclusive ranges of the tunables that take more than 0 and 1; Init and
 * SetParams refuse a value outside with the status named beside it. */
#define VOCREL_RNR_MAX_NR_MIN 2           /* maxNr, dB: VOCREL_RNR_E_MAX_NR */
#define VOCREL_RNR_MAX_NR_MAX 20
#define VOCREL_RNR_LEVEL_THR_MIN (-80)    /* levelThrDb, dB: VOCREL_RNR_E_LEVEL_THR */
#define VOCREL_RNR_LEVEL_THR_MAX (-20)
#define VOCREL_RNR_VAD_BAND_THR_MIN 45    /* vadBandThr: VOCREL_RNR_E_VAD_BAND_THR */
#define VOCREL_RNR_VAD_BAND_THR_MAX 65

/* Tunables record: 24 signed 32-bit words (96 bytes). */
typedef struct Vocrel_RNR_Params {
  int32_t maxNr;         /* 0: maximum noise reduction, dB, 2..20 */
  int32_t hpFilterOn;    /* 1: high-pass pre-filter at 8/16 kHz, 0 or 1 */
  int32_t levelThrDb;    /* 2: mode 0 level threshold, dB, -80..-20 */
  int32_t levelAdaptOff; /* 3: mode 0: 1 skips level adaptation, 0 or 1 */
  int32_t vadBandThr;    /* 4: mode 0 stationary-band count for a noise frame, 45..65 */
  int32_t vad3On;        /* 5: mode 1, read at Init only: exactly 1 enables detector 3 */
  int32_t reserved6[6];  /* 6..11: reserved */
  int32_t sampleRate;    /* 12: 8000, 16000 or 48000 (fixed for the instance) */
  int32_t channels;      /* 13: 1 or 2 (fixed) */
  int32_t mode;          /* 14: 0 floor-noise path, 1 environment-noise path (fixed) */
  int32_t reserved15[9]; /* 15..23: reserved */
} Vocrel_RNR_Params;

/* Stream record read by Vocrel_RNR_GetSize: the layout of tunables words 12..14. */
typedef struct Vocrel_RNR_StreamCfg {
  int32_t sampleRate;
  int32_t channels;
  int32_t mode;
} Vocrel_RNR_StreamCfg;

/* Size record written by Vocrel_RNR_GetSize. */
typedef struct Vocrel_RNR_MemInfo {
  uint32_t memSize;     /* 28264 */
  uint32_t inFrameLen;  /* samples per channel per frame: 80, 160 or 480 */
  uint32_t outFrameLen; /* the same */
} Vocrel_RNR_MemInfo;

/* Frame descriptor of Vocrel_RNR_Apply. Input and output may be the same buffer. */
typedef struct Vocrel_RNR_FrameIo {
  const int16_t* inCh0; /* channel 0 input, frameLen samples */
  const int16_t* inCh1; /* channel 1 input; read only with 2 channels */
  uint32_t frameLen;    /* must equal the instance's frame length */
  int16_t* outCh0;      /* channel 0 output, frameLen samples */
  int16_t* outCh1;      /* channel 1 output; written only with 2 channels */
} Vocrel_RNR_FrameIo;

/* Optional progress record. Apply clears it (count, next and the slots; base is
 * kept) and, for each stage it passes, writes (code + base) into slot
 * (next AND 60), sets next to that slot + 1 and adds 1 to count. From a cleared
 * record the slot is always 0: count is what tells how many stages ran, slot 0
 * holds the last code, and the other slots stay 0. */
#define VOCREL_RNR_TRACE_SLOTS 61
typedef struct Vocrel_RNR_TraceRec {
  uint32_t count; /* codes written since the last clear */
  uint32_t next;  /* slot index used by the next write */
  uint32_t base;  /* added to every code; set by the owner, kept by clears */
  uint32_t slot[VOCREL_RNR_TRACE_SLOTS];
} Vocrel_RNR_TraceRec;

/* Version record: three NUL-padded text fields. */
typedef struct Vocrel_RNR_Version {
  char toolTag[64];
  char verText[64];
  char buildTime[64];
} Vocrel_RNR_Version;

/* Default tunables: floor-noise path at 48 kHz mono, environment-noise path at 8 kHz mono. */
VOCREL_RNR_API extern const Vocrel_RNR_Params g_Vocrel_RNR_Params_Flr_48k_MONO;
VOCREL_RNR_API extern const Vocrel_RNR_Params g_Vocrel_RNR_Params_Env_8k_MONO;

/* Memory size and frame length for a stream (sampleRate, channels, mode). */
VOCREL_RNR_API int32_t Vocrel_RNR_GetSize(Vocrel_RNR_MemInfo* info,
                                          const Vocrel_RNR_StreamCfg* stream);

/* Lays out an instance inside mem (any alignment, at least 28264 bytes) and
 * stores its handle in *handle. */
VOCREL_RNR_API int32_t Vocrel_RNR_Init(void** handle, void* mem, uint32_t memSize,
                                       const Vocrel_RNR_Params* params);

/* Cleans one 10 ms frame per channel. The output lags the input by one frame.
 * trace may be null. */
VOCREL_RNR_API int32_t Vocrel_RNR_Apply(void* handle, const Vocrel_RNR_FrameIo* io,
                                        Vocrel_RNR_TraceRec* trace);

/* Reads words 0..4 and 12..14 of the instance's tunables into *params; the
 * other words are left as they were. */
VOCREL_RNR_API int32_t Vocrel_RNR_GetParams(void* handle, Vocrel_RNR_Params* params);

/* Changes words 0..4 between frames; words 12..14 must match the instance.
 * Nothing is reset; a failing call changes nothing. */
VOCREL_RNR_API int32_t Vocrel_RNR_SetParams(void* handle, const Vocrel_RNR_Params* params);

/* Stores the address of the static version record in *version. */
VOCREL_RNR_API int32_t Vocrel_RNR_GetVersion(const Vocrel_RNR_Version** version);

/* What a status code means, as a sentence fragment such as "the channel count
 * must be 1 or 2"; "unknown status" for a code no entry returns. Never null. */
VOCREL_RNR_API const char* Vocrel_RNR_StatusText(int32_t status);

/* The field of Vocrel_RNR_Params a refusal blames ("maxNr", "hpFilterOn",
 * "levelThrDb", "levelAdaptOff", "vadBandThr", "sampleRate", "channels" or
 * "mode"), so that a front end can name its own option for it; "" for the other
 * codes. Never null. */
VOCREL_RNR_API const char* Vocrel_RNR_StatusField(int32_t status);

/* Conversions between a depth in dB and a Q15 gain, and the Q15 factor table.
 * The Wt functions clamp their argument to the table: below 0 reads entry 0,
 * above the last index (20 and 7) reads the last entry. The Rd functions return
 * the smallest index whose entry equals the argument, or the table length
 * (21 and 8) when none does. */
VOCREL_RNR_API extern const int16_t vocrel_rnr_minGainCfg[21];
VOCREL_RNR_API extern const int16_t vocrel_rnr_nrFactorCfg[8];
VOCREL_RNR_API int32_t Vocrel_RNR_WtMaxNr(int32_t depthDb);
VOCREL_RNR_API int32_t Vocrel_RNR_RdMaxNr(int32_t gainQ15);
VOCREL_RNR_API int32_t Vocrel_RNR_WtNrFactor(int32_t index);
VOCREL_RNR_API int32_t Vocrel_RNR_RdNrFactor(int32_t factorQ15);

#ifdef __cplusplus
}
#endif

#endif /* VOCREL_RNR_H */
