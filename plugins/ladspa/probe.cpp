// vocrel-ladspa-probe: a small LADSPA host and helper for the plugin tests.
//
//   probe defaults
//       the engine's default tunables, "name value" per line
//   probe run PLUGIN LABEL RATE IN.raw OUT.raw [options] [key=value ...]
//       runs the plugin over raw 16-bit interleaved PCM; prints the latency and
//       the allocations and mutex locks seen inside run()
//       --blocks N[,N...]     block sizes, used in turn (default 1024)
//       --random-blocks SEED:MAX  block sizes drawn from 1..MAX
//       --at SAMPLE key=value  changes a control once SAMPLE frames have gone in
//       --activate-at SAMPLE   calls activate() again at SAMPLE
//       --nonfinite FROM:COUNT  input frames FROM.. are NaN, then +-infinity
//   probe ref RATE CHANNELS IN.raw OUT.raw [key=value ...]
//       the engine through its API with the one-frame delay removed (same length)
//   probe compare A.raw B.raw CHANNELS SHIFT FRAMELEN
//       A[i + SHIFT] against B[i] over the common length; the first difference
//       is printed with its frame, index, channel and both values
//   probe lag A.raw B.raw CHANNELS MAXLAG [FROM TO]
//       the delay of B against A that correlates best (channel 0, A's frames
//       FROM..TO-1)
//   probe level IN.raw CHANNELS FROM TO
//       RMS level of frames FROM..TO-1 in dB below full scale
//   probe train RATE CHANNELS SECONDS OUT.raw
//       chirp bursts (30 ms, 300 Hz to 3 kHz) at irregular spacings near
//       0.4 s, silence between them, the same on every channel
//   probe lags A.raw B.raw CHANNELS WINDOW LAG RANGE
//       for every window of WINDOW frames of A, the delay of B against A within
//       LAG +- RANGE that correlates best (channel 0); prints the windows whose
//       delay is not LAG and a summary, and fails when there is one
// Control keys, in port order: mode, maxnr, thr, hp, vad, vad3, learn (digital silence).
#include <dlfcn.h>
#include <ladspa.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "vocrel_rnr.h"
#include "vocrel_rnr_feed.h"

// ---- allocation and lock counting inside run() ---------------------------------
// The probe defines malloc and friends, so the plugin's and libsoxr's calls land
// here too. Sanitizer builds own malloc themselves and skip the count.
#if defined(__SANITIZE_ADDRESS__)
#define PROBE_COUNTS 0
#else
#define PROBE_COUNTS 1
#endif

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
std::atomic<long> g_locks{0};
}  // namespace

#if PROBE_COUNTS
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
  return __libc_realloc(p, n);
}
void* memalign(std::size_t align, std::size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
  return __libc_memalign(align, n);
}
void* aligned_alloc(std::size_t align, std::size_t n) { return memalign(align, n); }
int posix_memalign(void** p, std::size_t align, std::size_t n) {
  *p = memalign(align, n);
  return *p != nullptr ? 0 : 12;  // ENOMEM
}

using LockFn = int (*)(pthread_mutex_t*);
LockFn g_realLock = nullptr;
int pthread_mutex_lock(pthread_mutex_t* m) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_locks;
  if (g_realLock == nullptr)
    g_realLock = reinterpret_cast<LockFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  return g_realLock(m);
}
}
#endif

namespace {

constexpr const char* kKeys[] = {"mode", "maxnr", "thr", "hp", "vad", "vad3", "learn"};
constexpr int kKeyCount = 7;

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "probe: %s\n", why.c_str());
  std::exit(2);
}

std::vector<std::int16_t> read_raw(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) fail("cannot read " + path);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<std::int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

void write_raw(const std::string& path, const std::vector<std::int16_t>& s) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  if (!f) fail("cannot write " + path);
}

// key=value -> (control index, value)
bool parse_control(const std::string& arg, int& index, float& value) {
  const auto eq = arg.find('=');
  if (eq == std::string::npos) return false;
  const std::string key = arg.substr(0, eq);
  for (int k = 0; k < kKeyCount; ++k)
    if (key == kKeys[k]) {
      index = k;
      value = std::strtof(arg.c_str() + eq + 1, nullptr);
      return true;
    }
  return false;
}

// ---- probe run ------------------------------------------------------------------

struct ControlChange {
  long at;
  int index;
  float value;
};

// The float the host hands the plugin for a 16-bit input sample; `k` frames
// into a stretch of `count` non-finite frames (k >= count: outside it) the
// first half is NaN, the rest alternates between plus and minus infinity.
float host_sample(std::int16_t v, std::size_t k, std::size_t count) {
  if (k >= count) return static_cast<float>(v) / 32768.0f;
  if (k < count / 2) return std::nanf("");
  return k % 2 != 0 ? HUGE_VALF : -HUGE_VALF;
}

int cmd_run(int argc, char** argv) {
  if (argc < 7) fail("run needs PLUGIN LABEL RATE IN OUT");
  void* lib = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) fail(dlerror());
  auto fn = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(lib, "ladspa_descriptor"));
  if (fn == nullptr) fail("no ladspa_descriptor");
  const LADSPA_Descriptor* d = nullptr;
  for (unsigned long i = 0; (d = fn(i)) != nullptr; ++i)
    if (std::strcmp(d->Label, argv[3]) == 0) break;
  if (d == nullptr) fail(std::string("no plugin ") + argv[3]);
  const unsigned long rate = std::strtoul(argv[4], nullptr, 10);
  const std::vector<std::int16_t> input = read_raw(argv[5]);
  const std::string outPath = argv[6];

  std::vector<unsigned long> blocks = {1024};
  std::mt19937 rng;
  unsigned long randomMax = 0;
  std::size_t nonFiniteFrom = 0, nonFiniteCount = 0;
  std::vector<ControlChange> changes;
  std::vector<long> activations;
  std::vector<float> controls;
  std::vector<unsigned long> audioIn, audioOut, controlIn;
  unsigned long latencyPort = d->PortCount;
  for (unsigned long p = 0; p < d->PortCount; ++p) {
    const LADSPA_PortDescriptor k = d->PortDescriptors[p];
    if (LADSPA_IS_PORT_AUDIO(k))
      (LADSPA_IS_PORT_INPUT(k) ? audioIn : audioOut).push_back(p);
    else if (LADSPA_IS_PORT_INPUT(k))
      controlIn.push_back(p);
    else if (std::strcmp(d->PortNames[p], "latency") == 0)
      latencyPort = p;
  }
  if (controlIn.size() != kKeyCount || latencyPort == d->PortCount) fail("unexpected ports");
  // Start from the defaults the hints name, rounded as hosts do for integer ports.
  for (unsigned long p : controlIn) {
    const LADSPA_PortRangeHint& h = d->PortRangeHints[p];
    float v = 0.0f;
    switch (h.HintDescriptor & LADSPA_HINT_DEFAULT_MASK) {
      case LADSPA_HINT_DEFAULT_MINIMUM:
        v = h.LowerBound;
        break;
      case LADSPA_HINT_DEFAULT_LOW:
        v = h.LowerBound * 0.75f + h.UpperBound * 0.25f;
        break;
      case LADSPA_HINT_DEFAULT_MIDDLE:
        v = h.LowerBound * 0.5f + h.UpperBound * 0.5f;
        break;
      case LADSPA_HINT_DEFAULT_HIGH:
        v = h.LowerBound * 0.25f + h.UpperBound * 0.75f;
        break;
      case LADSPA_HINT_DEFAULT_MAXIMUM:
        v = h.UpperBound;
        break;
      case LADSPA_HINT_DEFAULT_1:
        v = 1.0f;
        break;
      default:
        v = 0.0f;
        break;
    }
    if (LADSPA_IS_HINT_INTEGER(h.HintDescriptor)) v = std::round(v);
    controls.push_back(v);
  }
  for (int i = 7; i < argc; ++i) {
    const std::string a = argv[i];
    int index = 0;
    float value = 0;
    if (a == "--blocks" && i + 1 < argc) {
      blocks.clear();
      for (char* s = argv[++i]; *s != '\0';) {
        blocks.push_back(std::strtoul(s, &s, 10));
        if (*s == ',') ++s;
      }
    } else if (a == "--random-blocks" && i + 1 < argc) {
      char* s = argv[++i];
      rng.seed(static_cast<unsigned>(std::strtoul(s, &s, 10)));
      randomMax = std::strtoul(s + 1, nullptr, 10);
    } else if (a == "--at" && i + 2 < argc && parse_control(argv[i + 2], index, value)) {
      changes.push_back({std::atol(argv[i + 1]), index, value});
      i += 2;
    } else if (a == "--activate-at" && i + 1 < argc) {
      activations.push_back(std::atol(argv[++i]));
    } else if (a == "--nonfinite" && i + 1 < argc) {
      char* s = argv[++i];
      nonFiniteFrom = std::strtoul(s, &s, 10);
      nonFiniteCount = std::strtoul(s + 1, nullptr, 10);
    } else if (parse_control(a, index, value)) {
      controls[static_cast<std::size_t>(index)] = value;
    } else {
      fail("unknown argument " + a);
    }
  }
  const std::size_t channels = audioIn.size();
  const std::size_t frames = input.size() / channels;

  LADSPA_Handle h = d->instantiate(d, rate);
  if (h == nullptr) fail("instantiate failed");
  float latency = -1.0f;
  constexpr std::size_t kMaxBlock = 1u << 16;
  std::vector<std::vector<float>> in(channels, std::vector<float>(kMaxBlock));
  std::vector<std::vector<float>> out(channels, std::vector<float>(kMaxBlock));
  for (std::size_t c = 0; c < channels; ++c) {
    d->connect_port(h, audioIn[c], in[c].data());
    d->connect_port(h, audioOut[c], out[c].data());
  }
  for (std::size_t k = 0; k < controlIn.size(); ++k) d->connect_port(h, controlIn[k], &controls[k]);
  d->connect_port(h, latencyPort, &latency);
  if (d->activate != nullptr) d->activate(h);

  std::vector<std::int16_t> output(frames * channels);
  std::size_t pos = 0;
  std::size_t blockIndex = 0;
  float firstLatency = -1.0f;
  while (pos < frames) {
    std::size_t n = randomMax != 0 ? 1 + rng() % randomMax : blocks[blockIndex++ % blocks.size()];
    n = std::min<std::size_t>({n, frames - pos, kMaxBlock});
    // Stop the block at the next control change or re-activation.
    for (const ControlChange& c : changes)
      if (c.at > static_cast<long>(pos)) n = std::min(n, static_cast<std::size_t>(c.at) - pos);
    for (long a : activations)
      if (a > static_cast<long>(pos)) n = std::min(n, static_cast<std::size_t>(a) - pos);
    for (const ControlChange& c : changes)
      if (c.at == static_cast<long>(pos)) controls[static_cast<std::size_t>(c.index)] = c.value;
    for (long a : activations)
      if (a == static_cast<long>(pos) && d->activate != nullptr) d->activate(h);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t c = 0; c < channels; ++c)
        in[c][i] =
            host_sample(input[(pos + i) * channels + c], pos + i - nonFiniteFrom, nonFiniteCount);
    const long before = g_allocations.load();
    g_counting = true;
    d->run(h, n);
    g_counting = false;
    if (std::getenv("PROBE_TRACE") != nullptr && g_allocations.load() != before)
      std::fprintf(stderr, "run at %zu (%zu frames): %ld allocations\n", pos, n,
                   g_allocations.load() - before);
    if (firstLatency < 0) firstLatency = latency;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t c = 0; c < channels; ++c) {
        const float s = std::nearbyint(out[c][i] * 32768.0f);
        output[(pos + i) * channels + c] =
            static_cast<std::int16_t>(std::fmax(-32768.0f, std::fmin(32767.0f, s)));
      }
    pos += n;
  }
  if (d->deactivate != nullptr) d->deactivate(h);
  d->cleanup(h);
  write_raw(outPath, output);
  std::printf("latency %.0f\n", static_cast<double>(firstLatency));
  std::printf("final_latency %.0f\n", static_cast<double>(latency));
  std::printf("allocations %ld\n", PROBE_COUNTS ? g_allocations.load() : 0L);
  std::printf("locks %ld\n", PROBE_COUNTS ? g_locks.load() : 0L);
  std::printf("counted %d\n", PROBE_COUNTS);
  return 0;
}

// ---- probe ref --------------------------------------------------------------------

int cmd_ref(int argc, char** argv) {
  if (argc < 6) fail("ref needs RATE CHANNELS IN OUT");
  Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.sampleRate = std::atoi(argv[2]);
  p.channels = std::atoi(argv[3]);
  p.levelThrDb = 0;  // as the plugin: above -20 (the default) is the automatic threshold
  std::int32_t learnSilence = 0;
  for (int i = 6; i < argc; ++i) {
    int index = 0;
    float value = 0;
    if (!parse_control(argv[i], index, value)) fail(std::string("unknown argument ") + argv[i]);
    const auto v = static_cast<std::int32_t>(value);
    std::int32_t* fields[] = {&p.mode,       &p.maxNr,  &p.levelThrDb, &p.hpFilterOn,
                              &p.vadBandThr, &p.vad3On, &learnSilence};
    *fields[index] = v;
  }
  const bool autoThr = p.levelThrDb > -20;
  if (autoThr) p.levelThrDb = g_Vocrel_RNR_Params_Flr_48k_MONO.levelThrDb;
  const std::vector<std::int16_t> input = read_raw(argv[4]);
  const auto ch = static_cast<std::size_t>(p.channels);
  const std::size_t frames = input.size() / ch;
  std::vector<unsigned char> mem(VOCREL_RNR_MEM_SIZE);
  void* handle = nullptr;
  const std::int32_t st = Vocrel_RNR_Init(&handle, mem.data(), VOCREL_RNR_MEM_SIZE, &p);
  if (st != VOCREL_RNR_OK) fail("Init failed: " + std::to_string(st));
  // The plugin's frame feed, with the silence hold and the threshold as asked.
  Vocrel_RNR_Feed feed{};
  std::vector<unsigned char> spare(VOCREL_RNR_FEED_SPARE_SIZE);
  const std::uint32_t flags = (learnSilence == 0 ? VOCREL_RNR_FEED_SILENCE_HOLD : 0u) |
                              (autoThr ? VOCREL_RNR_FEED_AUTO_THR : 0u);
  if (Vocrel_RNR_FeedInit(&feed, handle, flags) != VOCREL_RNR_OK) fail("the frame feed refused");
  const auto n = static_cast<std::size_t>(p.sampleRate / 100);
  // Whole frames cover the input plus one frame of zeros that flushes the delay.
  const std::size_t total = (frames + n + n - 1) / n * n;
  std::vector<std::int16_t> output;
  std::vector<std::int16_t> a(n), b(n), oa(n), ob(n);
  for (std::size_t f = 0; f < total; f += n) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t k = f + i;
      a[i] = k < frames ? input[k * ch] : 0;
      b[i] = k < frames && ch == 2 ? input[k * ch + 1] : 0;
    }
    Vocrel_RNR_FrameIo io{a.data(), b.data(), static_cast<std::uint32_t>(n), oa.data(), ob.data()};
    if (Vocrel_RNR_FeedFrame(&feed, handle, spare.data(), &io, nullptr) < 0)
      fail("cleaning failed");
    for (std::size_t i = 0; i < n; ++i) {
      output.push_back(oa[i]);
      if (ch == 2) output.push_back(ob[i]);
    }
  }
  output.erase(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(n * ch));
  output.resize(frames * ch);
  write_raw(argv[5], output);
  return 0;
}

// ---- probe compare / level / defaults ---------------------------------------------

int cmd_compare(int argc, char** argv) {
  if (argc < 7) fail("compare needs A B CHANNELS SHIFT FRAMELEN");
  const std::vector<std::int16_t> a = read_raw(argv[2]);
  const std::vector<std::int16_t> b = read_raw(argv[3]);
  const auto ch = std::strtoul(argv[4], nullptr, 10);
  const auto shift = std::strtoul(argv[5], nullptr, 10);
  const auto frameLen = std::strtoul(argv[6], nullptr, 10);
  const std::size_t fa = a.size() / ch;
  const std::size_t fb = b.size() / ch;
  const std::size_t common = fa > shift ? std::min(fa - shift, fb) : 0;
  std::size_t differ = 0;
  for (std::size_t i = 0; i < common; ++i)
    for (std::size_t c = 0; c < ch; ++c) {
      const int va = a[(i + shift) * ch + c];
      const int vb = b[i * ch + c];
      if (va != vb && differ++ == 0)
        std::printf("first difference: frame %zu index %zu channel %zu: %d vs %d\n", i / frameLen,
                    i % frameLen, c, va, vb);
    }
  std::printf("compared %zu frames of %lu channel(s): %zu samples differ\n", common, ch, differ);
  return differ == 0 && common > 0 ? 0 : 1;
}

int cmd_level(int argc, char** argv) {
  if (argc < 6) fail("level needs IN CHANNELS FROM TO");
  const std::vector<std::int16_t> s = read_raw(argv[2]);
  const auto ch = std::strtoul(argv[3], nullptr, 10);
  const auto from = std::strtoul(argv[4], nullptr, 10) * ch;
  const auto to = std::min<std::size_t>(std::strtoul(argv[5], nullptr, 10) * ch, s.size());
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
  const double rms = to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
  std::printf("%.2f\n", 20.0 * std::log10(std::fmax(rms, 1e-3) / 32768.0));
  return 0;
}

// The shift of B against A (B[i + lag] ~ A[i]) that correlates best, over
// 0..MAXLAG, channel 0 only, with A's frames FROM..TO-1 (default: all).
int cmd_lag(int argc, char** argv) {
  if (argc < 6) fail("lag needs A B CHANNELS MAXLAG [FROM TO]");
  const std::vector<std::int16_t> a = read_raw(argv[2]);
  const std::vector<std::int16_t> b = read_raw(argv[3]);
  const auto ch = std::strtoul(argv[4], nullptr, 10);
  const auto maxLag = std::strtoul(argv[5], nullptr, 10);
  const std::size_t fa = a.size() / ch;
  const std::size_t fb = b.size() / ch;
  const std::size_t from = argc > 7 ? std::strtoul(argv[6], nullptr, 10) : 0;
  const std::size_t to =
      argc > 7 ? std::min<std::size_t>(std::strtoul(argv[7], nullptr, 10), fa) : fa;
  long best = -1;
  double bestValue = 0;
  for (std::size_t lag = 0; lag <= maxLag && lag < fb; ++lag) {
    double sum = 0;
    for (std::size_t i = from; i + lag < fb && i < to; ++i)
      sum += static_cast<double>(a[i * ch]) * b[(i + lag) * ch];
    if (best < 0 || sum > bestValue) {
      best = static_cast<long>(lag);
      bestValue = sum;
    }
  }
  std::printf("%ld\n", best);
  return 0;
}

// Chirp bursts with gaps that vary from burst to burst, so that no two
// windows look alike and no lag other than the true one correlates well.
int cmd_train(int argc, char** argv) {
  if (argc < 6) fail("train needs RATE CHANNELS SECONDS OUT");
  const double rate = std::strtod(argv[2], nullptr);
  const auto ch = std::strtoul(argv[3], nullptr, 10);
  const auto frames = static_cast<std::size_t>(std::strtod(argv[4], nullptr) * rate);
  constexpr double kBurstSeconds = 0.030;
  constexpr double kLowHz = 300.0;
  constexpr double kHighHz = 3000.0;
  constexpr double kPeak = 0.5;
  const auto burst = static_cast<std::size_t>(kBurstSeconds * rate);
  std::vector<std::int16_t> s(frames * ch, 0);
  std::mt19937 gen(21);
  std::uniform_real_distribution<double> gap(0.3, 0.5);
  const double pi = std::acos(-1.0);
  for (auto at = static_cast<std::size_t>(0.2 * rate); at + burst < frames;
       at += static_cast<std::size_t>(gap(gen) * rate)) {
    for (std::size_t i = 0; i < burst; ++i) {
      // Phase of a linear sweep from kLowHz to kHighHz, under a Hann window.
      const double t = static_cast<double>(i) / rate;
      const double phase = 2 * pi * (kLowHz * t + (kHighHz - kLowHz) * t * t / (2 * kBurstSeconds));
      const double window = 0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(i) / burst);
      const auto v =
          static_cast<std::int16_t>(std::lrint(32767 * kPeak * window * std::sin(phase)));
      for (std::size_t c = 0; c < ch; ++c) s[(at + i) * ch + c] = v;
    }
  }
  write_raw(argv[5], s);
  return 0;
}

// Correlates over A's non-zero samples only: the train is mostly silence.
int cmd_lags(int argc, char** argv) {
  if (argc < 8) fail("lags needs A B CHANNELS WINDOW LAG RANGE");
  const std::vector<std::int16_t> a = read_raw(argv[2]);
  const std::vector<std::int16_t> b = read_raw(argv[3]);
  const auto ch = std::strtoul(argv[4], nullptr, 10);
  const auto window = std::strtoul(argv[5], nullptr, 10);
  const long lag = std::strtol(argv[6], nullptr, 10);
  const long range = std::strtol(argv[7], nullptr, 10);
  const auto fa = static_cast<long>(a.size() / ch);
  const auto fb = static_cast<long>(b.size() / ch);
  std::vector<long> sounding;  // frames of A that are not silent
  for (long i = 0; i < fa; ++i)
    if (a[i * ch] != 0) sounding.push_back(i);
  long windows = 0, off = 0, lowest = LONG_MAX, highest = LONG_MIN;
  auto next = sounding.begin();
  for (long from = 0; from + static_cast<long>(window) <= fa; from += static_cast<long>(window)) {
    const long to = from + static_cast<long>(window);
    if (to + lag + range > fb) break;
    const auto first = std::lower_bound(next, sounding.end(), from);
    next = std::lower_bound(first, sounding.end(), to);
    if (first == next) continue;
    long best = 0;
    double bestValue = -1;
    for (long d = lag - range; d <= lag + range; ++d) {
      double sum = 0;
      for (auto i = first; i != next; ++i)
        if (*i + d >= 0) sum += static_cast<double>(a[*i * ch]) * b[(*i + d) * ch];
      if (sum > bestValue) {
        best = d;
        bestValue = sum;
      }
    }
    ++windows;
    lowest = std::min(lowest, best);
    highest = std::max(highest, best);
    if (best != lag && off++ < 10) std::printf("window from frame %ld: delay %ld\n", from, best);
  }
  std::printf("%ld windows, delay %ld..%ld, %ld not %ld\n", windows, lowest, highest, off, lag);
  return off == 0 && windows > 0 ? 0 : 1;
}

int cmd_defaults() {
  const Vocrel_RNR_Params& p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  // The level-threshold control defaults to 0: automatic.
  std::printf("mode %d\nmaxnr %d\nthr %d\nhp %d\nvad %d\nvad3 %d\nadapt %d\n", p.mode, p.maxNr, 0,
              p.hpFilterOn, p.vadBandThr, p.vad3On == 1 ? 1 : 0, p.levelAdaptOff);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "run") return cmd_run(argc, argv);
  if (cmd == "ref") return cmd_ref(argc, argv);
  if (cmd == "compare") return cmd_compare(argc, argv);
  if (cmd == "level") return cmd_level(argc, argv);
  if (cmd == "lag") return cmd_lag(argc, argv);
  if (cmd == "train") return cmd_train(argc, argv);
  if (cmd == "lags") return cmd_lags(argc, argv);
  if (cmd == "defaults") return cmd_defaults();
  std::fprintf(stderr, "usage: see the head of probe.cpp\n");
  return 2;
}
