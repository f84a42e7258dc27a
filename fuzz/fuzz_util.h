// Scaffolding shared by the fuzz targets: caller memory that is exactly as
// large as the contract allows (heap blocks whose slack is poisoned, so that
// AddressSanitizer reports any access outside them), byte snapshots, and
// decoders that turn fuzzer bytes into tunables, descriptors and audio.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vocrel_rnr.h"

// Aborts with the failed condition; libFuzzer saves the input as a crash.
#define FUZZ_CHECK(cond)                                                                   \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)

namespace fuzz {

inline constexpr std::size_t kInstanceBytes = 28256;  // used from the aligned start
inline constexpr std::size_t kPathState = 14528;
inline constexpr std::size_t kFftSpecA = 112;
inline constexpr std::size_t kRnrChanBytes = 6860;
inline constexpr std::size_t kRnrFrameCnt = 2260;  // within a channel state
inline constexpr std::uint32_t kMagic = 0x414E5249u;

using Bytes = std::vector<std::uint8_t>;

inline Bytes snapshot(const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return Bytes(b, b + n);
}

inline bool same(const void* p, const Bytes& b) {
  return b.empty() || std::memcmp(p, b.data(), b.size()) == 0;
}

// Frame length of a rate, 0 for a rate the engine refuses.
inline std::uint32_t frame_len(std::int32_t rate) {
  return rate == 8000 ? 80u : rate == 16000 ? 160u : rate == 48000 ? 480u : 0u;
}

// The caller's instance block: `claimed` bytes announced to Init, `misalign`
// bytes past a 16-byte boundary. Only the bytes the instance may occupy are
// addressable; everything else in the allocation is poisoned.
class Block {
 public:
  Block(std::uint32_t claimed, std::size_t misalign, std::uint8_t fill)
      : claimed_(claimed), misalign_(misalign % 8) {
    avail_ = claimed < VOCREL_RNR_MEM_SIZE ? claimed : VOCREL_RNR_MEM_SIZE;
    raw_ = static_cast<std::uint8_t*>(std::malloc(misalign_ + avail_ + 1));
    mem_ = raw_ + misalign_;
    std::memset(raw_, fill, misalign_ + avail_ + 1);
    const auto addr = reinterpret_cast<std::uintptr_t>(mem_);
    inst_ = mem_ + (8 - addr % 8) % 8;
    // A block too small for an instance is never touched at all; otherwise
    // only the instance itself, from the next multiple of 8, is usable.
    if (avail_ < VOCREL_RNR_MEM_SIZE) {
      ASAN_POISON_MEMORY_REGION(raw_, misalign_ + avail_ + 1);
    } else {
      ASAN_POISON_MEMORY_REGION(raw_, static_cast<std::size_t>(inst_ - raw_));
      std::uint8_t* end = inst_ + kInstanceBytes;
      ASAN_POISON_MEMORY_REGION(end, static_cast<std::size_t>(raw_ + misalign_ + avail_ + 1 - end));
    }
  }
  ~Block() {
    ASAN_UNPOISON_MEMORY_REGION(raw_, misalign_ + avail_ + 1);
    std::free(raw_);
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  void* mem() const { return mem_; }
  std::uint32_t claimed() const { return claimed_; }
  // Where the instance must start when the block is large enough.
  std::uint8_t* instance() const { return avail_ < VOCREL_RNR_MEM_SIZE ? nullptr : inst_; }

 private:
  std::uint32_t claimed_;
  std::size_t misalign_;
  std::size_t avail_;
  std::uint8_t* raw_;
  std::uint8_t* mem_;
  std::uint8_t* inst_;
};

// Heap memory of exactly n objects of T, zeroed, with ASan redzones on both
// sides (one byte is allocated for n == 0 so that the pointer is unique).
template <typename T>
class Exact {
 public:
  explicit Exact(std::size_t n = 1)
      : n_(n), p_(static_cast<T*>(std::malloc(sizeof(T) * n + (n == 0)))) {
    std::memset(p_, 0, sizeof(T) * n);
  }
  ~Exact() { std::free(p_); }
  Exact(const Exact&) = delete;
  Exact& operator=(const Exact&) = delete;
  T* get() const { return p_; }
  T* data() const { return p_; }
  T& operator*() const { return *p_; }
  T* operator->() const { return p_; }
  Bytes bytes() const { return snapshot(p_, sizeof(T) * n_); }

 private:
  std::size_t n_;
  T* p_;
};
using Samples = Exact<std::int16_t>;

// An instance initialised in `block` by a call that must succeed.
inline void* init_instance(const Block& block, const Vocrel_RNR_Params& p) {
  void* h = nullptr;
  FUZZ_CHECK(Vocrel_RNR_Init(&h, block.mem(), block.claimed(), &p) == VOCREL_RNR_OK);
  FUZZ_CHECK(h == block.instance());
  return h;
}

// Both channels' input and output buffers of one frame, and their contents
// before a call.
struct FrameBuffers {
  explicit FrameBuffers(std::size_t n) : len(n), in0(n), in1(n), out0(n), out1(n) {}
  std::size_t len;
  Samples in0, in1, out0, out1;
  Bytes in0Before, in1Before, out0Before, out1Before;

  void fill_outputs(std::uint8_t v) {
    std::memset(out0.data(), v, 2 * len);
    std::memset(out1.data(), v, 2 * len);
  }
  void remember() {
    in0Before = in0.bytes(), in1Before = in1.bytes();
    out0Before = out0.bytes(), out1Before = out1.bytes();
  }
  bool untouched() const {
    return same(in0.data(), in0Before) && same(in1.data(), in1Before) &&
           same(out0.data(), out0Before) && same(out1.data(), out1Before);
  }
  // After a successful frame: inputs not used in place, and channel 1's
  // output buffer of a mono instance, are as they were.
  bool only_outputs_written(int channels, bool inPlace0, bool inPlace1) const {
    return (inPlace0 || same(in0.data(), in0Before)) && (inPlace1 || same(in1.data(), in1Before)) &&
           (channels == 2 ||
            (inPlace1 ? same(in1.data(), in1Before) : same(out1.data(), out1Before)));
  }
};

// A 32-bit value that is valid with probability about 3/4, otherwise a
// boundary value just outside [lo, hi] or anything at all.
inline std::int32_t pick_word(FuzzedDataProvider& fdp, std::int32_t lo, std::int32_t hi) {
  switch (fdp.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      return lo - 1;
    case 1:
      return hi + 1;
    case 2:
      return fdp.ConsumeIntegral<std::int32_t>();
    default:
      return fdp.ConsumeIntegralInRange<std::int32_t>(lo, hi);
  }
}

// Stream fields: one of the accepted configurations or a near miss.
inline void pick_stream(FuzzedDataProvider& fdp, std::int32_t& rate, std::int32_t& channels,
                        std::int32_t& mode, bool validOnly) {
  static constexpr std::int32_t kRates[] = {8000, 16000, 48000, 44100, 0, -8000};
  const int nRates = validOnly ? 3 : 6;
  rate = kRates[fdp.ConsumeIntegralInRange<int>(0, nRates - 1)];
  channels = fdp.ConsumeIntegralInRange<std::int32_t>(1, 2);
  mode = fdp.ConsumeIntegralInRange<std::int32_t>(0, 1);
  if (validOnly) {
    if (mode == 1 && rate == 48000) rate = 16000;
    return;
  }
  if (fdp.ConsumeBool()) channels = pick_word(fdp, 1, 2);
  if (fdp.ConsumeBool()) mode = pick_word(fdp, 0, 1);
}

inline void pick_tunables(FuzzedDataProvider& fdp, Vocrel_RNR_Params& p, bool validOnly) {
  auto draw = [&](std::int32_t lo, std::int32_t hi) {
    return validOnly ? fdp.ConsumeIntegralInRange<std::int32_t>(lo, hi) : pick_word(fdp, lo, hi);
  };
  p.maxNr = draw(VOCREL_RNR_MAX_NR_MIN, VOCREL_RNR_MAX_NR_MAX);
  p.hpFilterOn = draw(0, 1);
  p.levelThrDb = draw(VOCREL_RNR_LEVEL_THR_MIN, VOCREL_RNR_LEVEL_THR_MAX);
  p.levelAdaptOff = draw(0, 1);
  p.vadBandThr = draw(VOCREL_RNR_VAD_BAND_THR_MIN, VOCREL_RNR_VAD_BAND_THR_MAX);
  p.vad3On = fdp.ConsumeBool() ? 1 : fdp.ConsumeIntegral<std::int32_t>();
  for (auto& w : p.reserved6) w = fdp.ConsumeBool() ? 0 : fdp.ConsumeIntegral<std::int32_t>();
  for (auto& w : p.reserved15) w = fdp.ConsumeBool() ? 0 : fdp.ConsumeIntegral<std::int32_t>();
}

// The checks shared by Init and SetParams on words 0..4, in order.
inline std::int32_t expected_tunables(const Vocrel_RNR_Params& p) {
  auto in = [](std::int32_t v, std::int32_t lo, std::int32_t hi) { return v >= lo && v <= hi; };
  if (!in(p.maxNr, VOCREL_RNR_MAX_NR_MIN, VOCREL_RNR_MAX_NR_MAX)) return VOCREL_RNR_E_MAX_NR;
  if (!in(p.hpFilterOn, 0, 1)) return VOCREL_RNR_E_HP_FILTER;
  if (!in(p.levelThrDb, VOCREL_RNR_LEVEL_THR_MIN, VOCREL_RNR_LEVEL_THR_MAX))
    return VOCREL_RNR_E_LEVEL_THR;
  if (!in(p.levelAdaptOff, 0, 1)) return VOCREL_RNR_E_LEVEL_ADAPT;
  if (!in(p.vadBandThr, VOCREL_RNR_VAD_BAND_THR_MIN, VOCREL_RNR_VAD_BAND_THR_MAX))
    return VOCREL_RNR_E_VAD_BAND_THR;
  return VOCREL_RNR_OK;
}

// The stream check shared by GetSize and Init, in order.
inline std::int32_t expected_stream(std::int32_t rate, std::int32_t channels, std::int32_t mode) {
  if (frame_len(rate) == 0) return VOCREL_RNR_E_SAMPLE_RATE;
  if (channels != 1 && channels != 2) return VOCREL_RNR_E_CHANNELS;
  if (mode != 0 && mode != 1) return VOCREL_RNR_E_MODE;
  if (mode == 1 && rate == 48000) return VOCREL_RNR_E_MODE_RATE;
  return VOCREL_RNR_OK;
}

// Small deterministic generator for the synthetic signals.
struct Lcg {
  std::uint32_t s;
  std::uint32_t next() { return s = s * 1664525u + 1013904223u; }
  std::int16_t sample(int bits) {
    return static_cast<std::int16_t>(static_cast<std::int32_t>(next()) >> (32 - bits));
  }
};

// Fills one frame: silence, DC, full-scale square or clipped noise, a
// harmonic tone, noise of a chosen width, or raw fuzzer bytes.
inline void fill_audio(FuzzedDataProvider& fdp, std::int16_t* x, std::size_t n) {
  Lcg g{fdp.ConsumeIntegral<std::uint32_t>()};
  switch (fdp.ConsumeIntegralInRange<int>(0, 6)) {
    case 0:
      std::memset(x, 0, 2 * n);
      break;
    case 1: {
      const auto dc = fdp.ConsumeIntegral<std::int16_t>();
      for (std::size_t i = 0; i < n; ++i) x[i] = dc;
      break;
    }
    case 2: {  // full scale, alternating in blocks
      const std::size_t half = 1 + fdp.ConsumeIntegralInRange<std::size_t>(0, 64);
      for (std::size_t i = 0; i < n; ++i) x[i] = (i / half) % 2 ? INT16_MIN : INT16_MAX;
      break;
    }
    case 3: {  // triangle wave: odd harmonics of one pitch, full scale
      const std::uint32_t step = 1 + g.next() % 4000;
      std::uint32_t ph = g.next();
      for (std::size_t i = 0; i < n; ++i, ph += step << 12) {
        const auto tri = static_cast<std::int32_t>(ph >> 16) - 32768;  // -32768..32767
        x[i] = static_cast<std::int16_t>((tri < 0 ? -tri - 1 : tri) * 2 - 32767);
      }
      break;
    }
    case 4:
      for (std::size_t i = 0; i < n; ++i) x[i] = g.sample(16);
      break;
    case 5: {
      const int bits = fdp.ConsumeIntegralInRange<int>(1, 12);
      for (std::size_t i = 0; i < n; ++i) x[i] = g.sample(bits);
      break;
    }
    default: {
      const auto raw = fdp.ConsumeBytes<std::uint8_t>(2 * n);
      std::memset(x, 0, 2 * n);
      if (!raw.empty()) std::memcpy(x, raw.data(), raw.size());
      break;
    }
  }
}

}  // namespace fuzz
