// LADSPA plugins "vocrel_rnr_mono" (ID 0x56524E) and "vocrel_rnr_stereo"
// (ID 0x56524F): the noise-reduction engine behind any host block size and
// sample rate. Ports: the audio inputs, the audio outputs, the six controls of
// controls.h, then the output control "latency" (host samples).
#include <ladspa.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "controls.h"
#include "rate_route.h"
#include "vocrel_rnr.h"
#include "vocrel_rnr_feed.h"

namespace vocrel::ladspa {

namespace {

constexpr unsigned long kMonoId = 0x56524E;  // "VRN"
constexpr unsigned long kStereoId = 0x56524F;
constexpr unsigned kMaxChannels = 2;

// Host frames handled per pass of run(); bounds the scratch buffers.
constexpr std::size_t kSpanFrames = 512;

// Port layout for `channels` audio channels.
constexpr unsigned long first_control(unsigned channels) { return 2ul * channels; }
constexpr unsigned long latency_port(unsigned channels) {
  return first_control(channels) + kControlCount;
}
constexpr unsigned long port_count(unsigned channels) { return latency_port(channels) + 1; }

using stream::engine_rate_for;
using stream::from_pcm;
using stream::Route;
using stream::to_pcm;

class Instance {
 public:
  Instance(unsigned channels, double hostRate) : channels_(channels), hostRate_(hostRate) {}

  bool create();
  void connect(unsigned long port, LADSPA_Data* data);
  void activate();
  void run(std::size_t frames);

 private:
  static void frame_thunk(void* ctx, const Route& route, const float* in, float* out) {
    static_cast<Instance*>(ctx)->frame(route, in, out);
  }
  void frame(const Route& route, const float* in, float* out);
  EngineSettings controls() const { return settings_from(controls_.data()); }
  void select_route(const EngineSettings& wanted);
  void write_latency() {
    if (latencyPort_ != nullptr)
      *latencyPort_ = static_cast<LADSPA_Data>(routes_[active_].latency());
  }

  unsigned channels_;
  double hostRate_;
  std::array<Route, 2> routes_;
  std::array<int, 2> routeOfMode_{};  // mode -> index into routes_
  std::array<bool, 2> running_{};     // the route has taken samples since activate
  int active_ = 0;
  bool activated_ = false;

  std::unique_ptr<unsigned char[]> engineMem_;
  void* engine_ = nullptr;
  bool engineFresh_ = false;  // Init needed before the next frame
  EngineSettings applied_;
  Vocrel_RNR_Feed feed_{};                     // automatic threshold and silence hold around Apply
  bool feedReady_ = false;                     // feed_ follows the current instance and tunables
  std::unique_ptr<unsigned char[]> spareMem_;  // the instance kept over digital silence

  std::array<const LADSPA_Data*, kMaxChannels> in_{};
  std::array<LADSPA_Data*, kMaxChannels> out_{};
  std::array<const LADSPA_Data*, kControlCount> controls_{};
  LADSPA_Data* latencyPort_ = nullptr;

  std::unique_ptr<float[]> spanIn_;   // kSpanFrames interleaved
  std::unique_ptr<float[]> spanOut_;  // kSpanFrames interleaved
  std::array<std::array<std::int16_t, 480>, kMaxChannels> pcmIn_{};
  std::array<std::array<std::int16_t, 480>, kMaxChannels> pcmOut_{};
};

bool Instance::create() {
  if (!(hostRate_ >= stream::kMinHostRate && hostRate_ <= stream::kMaxHostRate)) return false;
  const std::array<std::int32_t, 2> rates = {engine_rate_for(hostRate_, 0),
                                             engine_rate_for(hostRate_, 1)};
  routeOfMode_ = {0, rates[1] == rates[0] ? 0 : 1};
  if (!routes_[0].create(hostRate_, rates[0], channels_)) return false;
  if (routeOfMode_[1] == 1 && !routes_[1].create(hostRate_, rates[1], channels_)) return false;
  engineMem_ = std::make_unique<unsigned char[]>(VOCREL_RNR_MEM_SIZE);
  spareMem_ = std::make_unique<unsigned char[]>(VOCREL_RNR_FEED_SPARE_SIZE);
  spanIn_ = std::make_unique<float[]>(kSpanFrames * channels_);
  spanOut_ = std::make_unique<float[]>(kSpanFrames * channels_);
  return true;
}

void Instance::connect(unsigned long port, LADSPA_Data* data) {
  if (port < channels_) {
    in_[port] = data;
  } else if (port < first_control(channels_)) {
    out_[port - channels_] = data;
  } else if (port < latency_port(channels_)) {
    controls_[port - first_control(channels_)] = data;
  } else if (port == latency_port(channels_)) {
    latencyPort_ = data;
    write_latency();
  }
}

void Instance::activate() {
  for (Route& r : routes_)
    if (r.frame_len() != 0) r.reset();
  running_ = {false, false};
  active_ = routeOfMode_[controls().mode];
  engineFresh_ = true;
  activated_ = true;
  write_latency();
}

// At a chunk boundary of the active route: a mode whose engine rate differs
// moves the output to that mode's route. A route that has run keeps running on
// silence while another one is active, so that its converters stay on the
// chunk pattern its priming was measured for.
void Instance::select_route(const EngineSettings& wanted) {
  const int want = routeOfMode_[wanted.mode];
  if (want == active_) return;
  active_ = want;
  engineFresh_ = true;
}

void Instance::run(std::size_t frames) {
  if (!activated_) activate();  // a host that skips activate gets the fresh state
  std::size_t done = 0;
  while (done < frames) {
    Route& active = routes_[active_];
    if (active.chunk_fill() == 0) select_route(controls());
    Route& route = routes_[active_];
    const std::size_t n =
        std::min({frames - done, route.chunk_frames() - route.chunk_fill(), kSpanFrames});
    for (std::size_t i = 0; i < n; ++i)
      for (unsigned c = 0; c < channels_; ++c)
        spanIn_[i * channels_ + c] = in_[c] != nullptr ? in_[c][done + i] : 0.0f;
    running_[active_] = true;
    for (int r = 0; r < 2; ++r)
      if (running_[r])
        routes_[r].feed(spanIn_.get(), r == active_ ? spanOut_.get() : nullptr, n, frame_thunk,
                        this);
    for (std::size_t i = 0; i < n; ++i)
      for (unsigned c = 0; c < channels_; ++c)
        if (out_[c] != nullptr) out_[c][done + i] = spanOut_[i * channels_ + c];
    done += n;
  }
  write_latency();
}

// One engine frame. Only the active route reaches the engine; a route kept
// running in the background gets silence back. Control changes act here: a
// mode (or, in mode 1, third-detector) change on this route starts a fresh
// instance, anything else goes through Vocrel_RNR_SetParams.
void Instance::frame(const Route& route, const float* in, float* out) {
  const std::size_t n = route.frame_len();
  if (&route != &routes_[active_]) {
    std::fill_n(out, n * channels_, 0.0f);
    return;
  }
  EngineSettings wanted = controls();
  if (routeOfMode_[wanted.mode] != active_) {
    // The mode's route takes over at its next chunk; until then this route
    // runs the mode it serves (with two routes, route r serves mode r).
    wanted.mode = active_;
  }
  const auto rate = route.engine_rate();
  const auto channels = static_cast<std::int32_t>(channels_);
  if (engineFresh_ || applied_.needs_init(wanted)) {
    const Vocrel_RNR_Params p = engine_params(wanted, rate, channels);
    engine_ = nullptr;
    if (Vocrel_RNR_Init(&engine_, engineMem_.get(), VOCREL_RNR_MEM_SIZE, &p) != VOCREL_RNR_OK)
      engine_ = nullptr;
    applied_ = wanted;
    engineFresh_ = false;
    feedReady_ = false;
  } else if (!applied_.same_tunables(wanted)) {
    const Vocrel_RNR_Params p = engine_params(wanted, rate, channels);
    if (Vocrel_RNR_SetParams(engine_, &p) == VOCREL_RNR_OK) applied_ = wanted;
    feedReady_ = false;
  }
  for (std::size_t i = 0; i < n; ++i)
    for (unsigned c = 0; c < channels_; ++c) pcmIn_[c][i] = to_pcm(in[i * channels_ + c]);
  Vocrel_RNR_FrameIo io{};
  io.inCh0 = pcmIn_[0].data();
  io.inCh1 = pcmIn_[1].data();
  io.frameLen = static_cast<std::uint32_t>(n);
  io.outCh0 = pcmOut_[0].data();
  io.outCh1 = pcmOut_[1].data();
  if (engine_ != nullptr && !feedReady_) {
    const std::uint32_t flags = (applied_.silenceHold ? VOCREL_RNR_FEED_SILENCE_HOLD : 0u) |
                                (applied_.autoThr ? VOCREL_RNR_FEED_AUTO_THR : 0u);
    feedReady_ = Vocrel_RNR_FeedInit(&feed_, engine_, flags) == VOCREL_RNR_OK;
  }
  const bool cleaned = engine_ != nullptr && feedReady_ &&
                       Vocrel_RNR_FeedFrame(&feed_, engine_, spareMem_.get(), &io, nullptr) >= 0;
  if (!cleaned) {
    std::fill_n(out, n * channels_, 0.0f);
    return;
  }
  for (std::size_t i = 0; i < n; ++i)
    for (unsigned c = 0; c < channels_; ++c) out[i * channels_ + c] = from_pcm(pcmOut_[c][i]);
}

// ---- descriptors -------------------------------------------------------------------

// All memory is taken here; a failure (no memory, a rate libsoxr refuses)
// gives no instance, and no exception leaves the plugin.
template <unsigned Channels>
LADSPA_Handle instantiate(const LADSPA_Descriptor*, unsigned long sampleRate) {
  try {
    auto inst = std::make_unique<Instance>(Channels, static_cast<double>(sampleRate));
    return inst->create() ? inst.release() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void connect_port(LADSPA_Handle h, unsigned long port, LADSPA_Data* data) {
  static_cast<Instance*>(h)->connect(port, data);
}
void activate(LADSPA_Handle h) { static_cast<Instance*>(h)->activate(); }
void run(LADSPA_Handle h, unsigned long frames) { static_cast<Instance*>(h)->run(frames); }
void cleanup(LADSPA_Handle h) { delete static_cast<Instance*>(h); }

// Names, descriptors and hints of one plugin, kept alive for the process.
struct Plugin {
  std::array<const char*, port_count(kMaxChannels)> names{};
  std::array<LADSPA_PortDescriptor, port_count(kMaxChannels)> kinds{};
  std::array<LADSPA_PortRangeHint, port_count(kMaxChannels)> hints{};
  LADSPA_Descriptor d{};

  template <unsigned Channels>
  void build(unsigned long id, const char* label, const char* name,
             const std::array<const char*, 2 * Channels>& audioNames) {
    for (unsigned c = 0; c < 2 * Channels; ++c) {
      names[c] = audioNames[c];
      kinds[c] = LADSPA_PORT_AUDIO | (c < Channels ? LADSPA_PORT_INPUT : LADSPA_PORT_OUTPUT);
      hints[c] = {0, 0, 0};
    }
    for (int k = 0; k < kControlCount; ++k) {
      const unsigned long port = first_control(Channels) + static_cast<unsigned long>(k);
      const ControlSpec& spec = control_spec(k);
      const PortRange r = port_range(spec, control_default(k));
      names[port] = spec.name;
      kinds[port] = LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT;
      hints[port] = {r.hints, r.lower, r.upper};
    }
    const unsigned long lat = latency_port(Channels);
    names[lat] = "latency";
    kinds[lat] = LADSPA_PORT_CONTROL | LADSPA_PORT_OUTPUT;
    // A default, although the plugin writes this port: some hosts want one for
    // every control port they are not given a value for.
    hints[lat] = {LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_INTEGER | LADSPA_HINT_DEFAULT_0, 0.0f,
                  0.0f};

    d.UniqueID = id;
    d.Label = label;
    // run() takes no memory, locks or system calls: every buffer and converter
    // is made in instantiate and activate.
    d.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    d.Name = name;
    d.Maker = "Vocrel";
    d.Copyright = "Vocrel";
    d.PortCount = port_count(Channels);
    d.PortDescriptors = kinds.data();
    d.PortNames = names.data();
    d.PortRangeHints = hints.data();
    d.instantiate = instantiate<Channels>;
    d.connect_port = connect_port;
    d.activate = activate;
    d.run = run;
    d.cleanup = cleanup;
  }
};

const LADSPA_Descriptor* descriptor(unsigned long index) {
  static const std::array<Plugin, 2> plugins = [] {
    std::array<Plugin, 2> p;
    p[0].build<1>(kMonoId, "vocrel_rnr_mono", "Vocrel speech noise reduction (mono)",
                  {"Input", "Output"});
    p[1].build<2>(kStereoId, "vocrel_rnr_stereo", "Vocrel speech noise reduction (stereo)",
                  {"Input L", "Input R", "Output L", "Output R"});
    return p;
  }();
  return index < plugins.size() ? &plugins[index].d : nullptr;
}

}  // namespace

}  // namespace vocrel::ladspa

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
  return vocrel::ladspa::descriptor(index);
}
