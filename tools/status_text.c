/* One entry per status code, indexed by -status. */
#include "status_text.h"

static const char* const kStatusText[] = {
    /*   0 */ "success",
    /*  -1 */ "the handle (or the pointer that receives it) is null",
    /*  -2 */ "the instance memory block is null",
    /*  -3 */ "the instance memory block is smaller than 28264 bytes",
    /*  -4 */ "the handle does not point at an initialised instance",
    /*  -5 */ "the instance memory was overwritten (guard word or check value broken)",
    /*  -6 */ "the version output pointer is null",
    /*  -7 */ "the tunables record pointer is null",
    /*  -8 */ "the frame descriptor is null",
    /*  -9 */ "the frame length differs from the instance's (80, 160 or 480 samples)",
    /* -10 */ "the size output record pointer is null",
    /* -11 */ "the stream record pointer is null",
    /* -12 */ "sample rate, channel count and mode cannot change after initialisation",
    /* -13 */ "the sample rate must be 8000, 16000 or 48000 Hz",
    /* -14 */ "the channel count must be 1 or 2",
    /* -15 */ "the maximum noise reduction (maxNr) must be 2..20 dB",
    /* -16 */ "the high-pass filter switch (hpFilterOn) must be 0 or 1",
    /* -17 */ "the input buffer of a used channel is null",
    /* -18 */ "the output buffer of a used channel is null",
    /* -19 */ "the level threshold (levelThrDb) must be -80..-20 dB",
    /* -20 */ "the level-adaptation switch (levelAdaptOff) must be 0 or 1",
    /* -21 */ "the VAD band threshold (vadBandThr) must be 45..65",
    /* -22 */ "the mode must be 0 (floor noise) or 1 (environment noise)",
    /* -23 */ "an FFT set-up failed during initialisation",
    /* -24 */ "mode 1 (environment noise) supports 8000 and 16000 Hz only",
};

const char* vocrel_status_text(int32_t status) {
  const int32_t count = (int32_t)(sizeof kStatusText / sizeof kStatusText[0]);
  if (status > 0 || status <= -count) return "unknown status";
  return kStatusText[-status];
}
