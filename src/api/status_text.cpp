// The one table of status codes: what each means, in words, and the field of
// the tunables record it blames, for the tools, the plug-in, the browser page
// and the Python module (whose copy tools/gen_status_py.py writes from this
// file).
#include <cstdint>

#include "api/api.h"
#include "vocrel_rnr.h"

namespace {

struct StatusEntry {
  const char* text;   // the cause in words
  const char* field;  // the Vocrel_RNR_Params field at fault, "" when none is
};

// One entry per status code, indexed by -status.
constexpr StatusEntry kStatus[] = {
    /*   0 */ {"success", ""},
    /*  -1 */ {"the handle (or the pointer that receives it) is null", ""},
    /*  -2 */ {"the instance memory block is null", ""},
    /*  -3 */ {"the instance memory block is smaller than 28264 bytes", ""},
    /*  -4 */ {"the handle does not point at an initialised instance", ""},
    /*  -5 */ {"the instance memory was overwritten (guard word or check value broken)", ""},
    /*  -6 */ {"the version output pointer is null", ""},
    /*  -7 */ {"the tunables record pointer is null", ""},
    /*  -8 */ {"the frame descriptor is null", ""},
    /*  -9 */ {"the frame length differs from the instance's (80, 160 or 480 samples)", ""},
    /* -10 */ {"the size output record pointer is null", ""},
    /* -11 */ {"the stream record pointer is null", ""},
    /* -12 */ {"sample rate, channel count and mode cannot change after initialisation", ""},
    /* -13 */ {"the sample rate must be 8000, 16000 or 48000 Hz", "sampleRate"},
    /* -14 */ {"the channel count must be 1 or 2", "channels"},
    /* -15 */ {"the maximum noise reduction (maxNr) must be 2..20 dB", "maxNr"},
    /* -16 */ {"the high-pass filter switch (hpFilterOn) must be 0 or 1", "hpFilterOn"},
    /* -17 */ {"the input buffer of a used channel is null", ""},
    /* -18 */ {"the output buffer of a used channel is null", ""},
    /* -19 */ {"the level threshold (levelThrDb) must be -80..-20 dB", "levelThrDb"},
    /* -20 */ {"the level-adaptation switch (levelAdaptOff) must be 0 or 1", "levelAdaptOff"},
    /* -21 */ {"the VAD band threshold (vadBandThr) must be 45..65", "vadBandThr"},
    /* -22 */ {"the mode must be 0 (floor noise) or 1 (environment noise)", "mode"},
    /* -23 */ {"an FFT set-up failed during initialisation", ""},
    /* -24 */ {"mode 1 (environment noise) supports 8000 and 16000 Hz only", "mode"},
};

constexpr std::int32_t kStatusCount = sizeof kStatus / sizeof kStatus[0];
static_assert(kStatusCount == 1 - VOCREL_RNR_E_MODE_RATE, "one text per status code");

// The texts spell the tunables' ranges out.
static_assert(VOCREL_RNR_MAX_NR_MIN == 2 && VOCREL_RNR_MAX_NR_MAX == 20 &&
                  VOCREL_RNR_LEVEL_THR_MIN == -80 && VOCREL_RNR_LEVEL_THR_MAX == -20 &&
                  VOCREL_RNR_VAD_BAND_THR_MIN == 45 && VOCREL_RNR_VAD_BAND_THR_MAX == 65,
              "the texts name the tunables' ranges");

// The entry of a status code; null for a value no entry returns.
const StatusEntry* entry_for(std::int32_t status) {
  return status > 0 || status <= -kStatusCount ? nullptr : &kStatus[-status];
}

}  // namespace

const char* vocrel::api::status_text(std::int32_t status) {
  const StatusEntry* e = entry_for(status);
  return e != nullptr ? e->text : "unknown status";
}

const char* vocrel::api::status_field(std::int32_t status) {
  const StatusEntry* e = entry_for(status);
  return e != nullptr ? e->field : "";
}
