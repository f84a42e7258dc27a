// Control ports of the LADSPA plugins: their ranges, their LADSPA hints and the
// conversion of host values into engine tunables.
#pragma once

#include <cstdint>

#include "vocrel_rnr.h"

namespace vocrel::ladspa {

// Input control ports, in port order after the audio ports.
enum Control : int {
  kMode = 0,      // 0 floor-noise path, 1 environment-noise path
  kMaxNr,         // maximum reduction, dB
  kLevelThr,      // mode 0 level threshold, dB; above -20 (the default 0): automatic
  kHpFilter,      // high-pass pre-filter (8 and 16 kHz), toggle
  kVadBandThr,    // mode 0 stationary-band count for a noise frame
  kVad3,          // mode 1 third voice-activity detector, toggle
  kLearnSilence,  // toggle: 1 lets digital silence into the learnt noise (no silence hold)
  kControlCount
};

// What a control accepts: whole numbers lo..hi, or a toggle (lo 0, hi 1).
struct ControlSpec {
  const char* name;
  std::int32_t lo;
  std::int32_t hi;
  bool toggle;
};

// LADSPA range hint of one control: bounds, hint bits and the default value
// the hint stands for (rounded, as hosts do for integer ports).
struct PortRange {
  float lower;
  float upper;
  int hints;
  std::int32_t defaultValue;
};

const ControlSpec& control_spec(int control);

// Level-threshold control values above this mean "automatic".
constexpr std::int32_t kLevelThrFixedMax = VOCREL_RNR_LEVEL_THR_MAX;

// Default of a control from the engine's floor-noise default record; the
// level threshold defaults to automatic (0).
std::int32_t control_default(int control);

// The range hint for a control whose default is dflt. LADSPA can only name a
// default as a fixed point of the range (a bound, 1/4, 1/2 or 3/4 of the way,
// 0 or 1): when none of them rounds to dflt on [lo, hi], the lower bound moves
// down by less than half a step, and failing that the range widens below (or
// above) until its middle is dflt. Values outside lo..hi are clamped anyway.
PortRange port_range(const ControlSpec& spec, std::int32_t dflt);

// A host value as the engine's whole number: NaN gives the default, toggles
// are on above 0, everything else rounds to nearest and clamps to lo..hi.
std::int32_t control_value(int control, float hostValue);

// Engine configuration chosen by the controls.
struct EngineSettings {
  std::int32_t mode = 0;
  std::int32_t vad3 = 0;
  Vocrel_RNR_Params tunables{};  // words 0..4 (and 5) as the engine takes them
  bool autoThr = false;          // mode 0: levelThrDb follows the noise floor
  bool silenceHold = true;       // the frame feed's silence hold

  // True when a fresh instance is needed to go from *this to next: another
  // mode, or in mode 1 another third-detector setting (read at Init only).
  bool needs_init(const EngineSettings& next) const;
  bool same_tunables(const EngineSettings& next) const;
};

// Reads the control values (one per Control, null for an unconnected port).
EngineSettings settings_from(const float* const* controlPorts);

// The tunables record for an instance at engineRate with channels.
Vocrel_RNR_Params engine_params(const EngineSettings& s, std::int32_t engineRate,
                                std::int32_t channels);

}  // namespace vocrel::ladspa
