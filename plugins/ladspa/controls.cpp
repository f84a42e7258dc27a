#include "controls.h"

#include <ladspa.h>

#include <array>
#include <cmath>

namespace vocrel::ladspa {

namespace {

// Ranges the engine accepts (its tunables check); names are the port names.
constexpr std::array<ControlSpec, kControlCount> kSpecs = {{
    {"Mode", 0, 1, false},
    {"Max reduction dB", VOCREL_RNR_MAX_NR_MIN, VOCREL_RNR_MAX_NR_MAX, false},
    // Above the engine's range (up to 0, the default): automatic.
    {"Level threshold dB (0 = auto)", VOCREL_RNR_LEVEL_THR_MIN, 0, false},
    {"Highpass filter", 0, 1, true},
    {"VAD band threshold", VOCREL_RNR_VAD_BAND_THR_MIN, VOCREL_RNR_VAD_BAND_THR_MAX, false},
    {"Third detector", 0, 1, true},
    {"Learn digital silence", 0, 1, true},
}};

// Fixed points LADSPA can name as a default, as fractions of the range.
struct FractionHint {
  float fraction;
  int hint;
};
constexpr std::array<FractionHint, 3> kFractionHints = {{
    {0.25f, LADSPA_HINT_DEFAULT_LOW},
    {0.5f, LADSPA_HINT_DEFAULT_MIDDLE},
    {0.75f, LADSPA_HINT_DEFAULT_HIGH},
}};

// Largest move of a bound that keeps every whole value of the range where it
// was once rounded: less than half a step.
constexpr float kBoundSlack = 0.4f;

constexpr int kBounded = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE;

bool fraction_hint(float lower, float upper, std::int32_t dflt, int& hint) {
  for (const FractionHint& f : kFractionHints) {
    const float point = lower * (1.0f - f.fraction) + upper * f.fraction;
    if (std::lround(point) == dflt) {
      hint = f.hint;
      return true;
    }
  }
  return false;
}

}  // namespace

const ControlSpec& control_spec(int control) { return kSpecs[static_cast<unsigned>(control)]; }

std::int32_t control_default(int control) {
  const Vocrel_RNR_Params& d = g_Vocrel_RNR_Params_Flr_48k_MONO;
  switch (control) {
    case kMode:
      return d.mode;
    case kMaxNr:
      return d.maxNr;
    case kLevelThr:
      return 0;
    case kHpFilter:
      return d.hpFilterOn;
    case kVadBandThr:
      return d.vadBandThr;
    case kVad3:
      return d.vad3On == 1 ? 1 : 0;  // only exactly 1 switches the detector on
    default:
      return 0;  // every toggle defaults to off: hosts that ignore the hints agree
  }
}

PortRange port_range(const ControlSpec& spec, std::int32_t dflt) {
  const auto lo = static_cast<float>(spec.lo);
  const auto hi = static_cast<float>(spec.hi);
  if (spec.toggle)
    return {lo, hi,
            LADSPA_HINT_TOGGLED | (dflt != 0 ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0),
            dflt != 0 ? 1 : 0};
  const int integer = kBounded | LADSPA_HINT_INTEGER;
  if (dflt == spec.lo) return {lo, hi, integer | LADSPA_HINT_DEFAULT_MINIMUM, dflt};
  if (dflt == spec.hi) return {lo, hi, integer | LADSPA_HINT_DEFAULT_MAXIMUM, dflt};
  if (dflt == 0) return {lo, hi, integer | LADSPA_HINT_DEFAULT_0, dflt};
  if (dflt == 1) return {lo, hi, integer | LADSPA_HINT_DEFAULT_1, dflt};
  int hint = 0;
  if (fraction_hint(lo, hi, dflt, hint)) return {lo, hi, integer | hint, dflt};
  if (fraction_hint(lo - kBoundSlack, hi, dflt, hint))
    return {lo - kBoundSlack, hi, integer | hint, dflt};
  if (fraction_hint(lo, hi + kBoundSlack, dflt, hint))
    return {lo, hi + kBoundSlack, integer | hint, dflt};
  // Widen the range on the side nearer the default until its middle is the
  // default; the whole accepted range stays inside.
  if (dflt - spec.lo < spec.hi - dflt)
    return {static_cast<float>(2 * dflt - spec.hi), hi, integer | LADSPA_HINT_DEFAULT_MIDDLE, dflt};
  return {lo, static_cast<float>(2 * dflt - spec.lo), integer | LADSPA_HINT_DEFAULT_MIDDLE, dflt};
}

std::int32_t control_value(int control, float hostValue) {
  const ControlSpec& spec = control_spec(control);
  if (std::isnan(hostValue)) return control_default(control);
  if (spec.toggle) return hostValue > 0.0f ? 1 : 0;
  // Clamp first so that the rounding never sees a value out of int range.
  const float clamped =
      std::fmin(std::fmax(hostValue, static_cast<float>(spec.lo)), static_cast<float>(spec.hi));
  return static_cast<std::int32_t>(std::lround(clamped));
}

bool EngineSettings::needs_init(const EngineSettings& next) const {
  return mode != next.mode || (next.mode == 1 && vad3 != next.vad3);
}

bool EngineSettings::same_tunables(const EngineSettings& next) const {
  return tunables.maxNr == next.tunables.maxNr && tunables.hpFilterOn == next.tunables.hpFilterOn &&
         tunables.levelThrDb == next.tunables.levelThrDb &&
         tunables.levelAdaptOff == next.tunables.levelAdaptOff &&
         tunables.vadBandThr == next.tunables.vadBandThr && autoThr == next.autoThr &&
         silenceHold == next.silenceHold;
}

EngineSettings settings_from(const float* const* controlPorts) {
  std::array<std::int32_t, kControlCount> v{};
  for (int c = 0; c < kControlCount; ++c)
    v[c] = controlPorts[c] != nullptr ? control_value(c, *controlPorts[c]) : control_default(c);
  EngineSettings s;
  s.mode = v[kMode];
  s.vad3 = v[kVad3];
  s.tunables = g_Vocrel_RNR_Params_Flr_48k_MONO;
  s.tunables.maxNr = v[kMaxNr];
  s.tunables.hpFilterOn = v[kHpFilter];
  s.autoThr = v[kLevelThr] > kLevelThrFixedMax;
  if (!s.autoThr) s.tunables.levelThrDb = v[kLevelThr];  // automatic starts from the default
  s.tunables.vadBandThr = v[kVadBandThr];
  s.tunables.vad3On = v[kVad3];
  s.silenceHold = v[kLearnSilence] == 0;
  return s;
}

Vocrel_RNR_Params engine_params(const EngineSettings& s, std::int32_t engineRate,
                                std::int32_t channels) {
  Vocrel_RNR_Params p = s.tunables;
  p.sampleRate = engineRate;
  p.channels = channels;
  p.mode = s.mode;
  return p;
}

}  // namespace vocrel::ladspa
