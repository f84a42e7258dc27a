// Helpers shared by the tests: FNV-1a 64 digests, seeded generators that give
// the same sequence on every target, and an instance in heap memory driven
// frame by frame through the public API.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "vocrel_rnr.h"

namespace vocrel_test {

// FNV-1a 64 over values in little-endian byte order, whatever the host order.
struct Fnv {
  std::uint64_t h = 0xCBF29CE484222325ull;
  void add(std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 0x100000001B3ull;
  }
  void add32(std::int32_t v) { add(static_cast<std::uint32_t>(v), 4); }
  void add64(std::int64_t v) { add(static_cast<std::uint64_t>(v), 8); }
  template <typename T>
  void add_all(const std::vector<T>& v) {
    for (const T x : v) add(static_cast<std::uint64_t>(static_cast<std::int64_t>(x)), sizeof(T));
  }
};

// Digest of 16-bit samples. Its offset basis is 1469598103934665603 (not
// the standard 14695981039346656037): the pinned sample digests start there.
inline std::uint64_t fnv1a(const std::vector<std::int16_t>& x,
                           std::uint64_t h = 1469598103934665603ull) {
  Fnv f{h};
  f.add_all(x);
  return f.h;
}

// SplitMix64.
struct SplitMix {
  std::uint64_t s;
  std::uint64_t next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A random word shifted right by 0..31: every magnitude equally likely.
  std::int32_t wide() {
    const std::uint64_t r = next();
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(r)) >> ((r >> 32) & 31);
  }
  std::int32_t range(std::int32_t lo, std::int32_t hi) {
    return lo + static_cast<std::int32_t>(next() %
                                          static_cast<std::uint64_t>(std::int64_t{hi} - lo + 1));
  }
};

// 32-bit LCG (Numerical Recipes constants).
struct Lcg32 {
  std::uint32_t state;
  std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
  // Uniform in [-bound, bound].
  std::int32_t uniform(std::int32_t bound) {
    const std::uint64_t span = 2 * static_cast<std::uint64_t>(bound) + 1;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(next() % span) - bound);
  }
};

inline Vocrel_RNR_Params params_for(std::int32_t rate, std::int32_t channels = 1,
                                    std::int32_t mode = 0) {
  Vocrel_RNR_Params p =
      mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.sampleRate = rate;
  p.channels = channels;
  p.mode = mode;
  return p;
}

inline std::vector<std::uint8_t> snapshot(const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return std::vector<std::uint8_t>(b, b + n);
}

// A block of `size` bytes filled with 0xA5 whose start lies `misalign` bytes
// past a multiple of 8.
struct Block {
  explicit Block(std::size_t size = VOCREL_RNR_MEM_SIZE, std::size_t misalign = 0)
      : storage(size + 16, 0xA5) {
    const auto addr = reinterpret_cast<std::uintptr_t>(storage.data());
    mem = storage.data() + (8 - addr % 8) % 8 + misalign;
  }
  std::vector<std::uint8_t> storage;
  std::uint8_t* mem;
};

using Samples = std::vector<std::int16_t>;

struct Instance {
  explicit Instance(const Vocrel_RNR_Params& p, std::size_t misalign = 0)
      : block(VOCREL_RNR_MEM_SIZE, misalign), params(p) {
    status = Vocrel_RNR_Init(&handle, block.mem, VOCREL_RNR_MEM_SIZE, &params);
  }
  std::uint32_t frame_len() const { return static_cast<std::uint32_t>(params.sampleRate / 100); }
  // The object at a byte offset from the instance start.
  template <typename T = std::uint32_t>
  T& at(std::size_t byte) const {
    return *reinterpret_cast<T*>(static_cast<char*>(handle) + byte);
  }
  std::vector<std::uint8_t> bytes() const { return snapshot(handle, 28256); }
  std::int32_t frame(const std::int16_t* in0, std::int16_t* out0, const std::int16_t* in1 = nullptr,
                     std::int16_t* out1 = nullptr, Vocrel_RNR_TraceRec* trace = nullptr) {
    Vocrel_RNR_FrameIo io{in0, in1, frame_len(), out0, out1};
    return last = Vocrel_RNR_Apply(handle, &io, trace);
  }
  // Whole frames of a mono stream; a partial last frame gives zeros. each(k)
  // runs after frame k (1, 2, ...).
  template <typename F = std::nullptr_t>
  Samples run(const Samples& in, F each = nullptr) {
    Samples out(in.size(), 0);
    for (std::size_t i = 0, k = 1; i + frame_len() <= in.size(); i += frame_len(), ++k) {
      frame(&in[i], &out[i]);
      if constexpr (!std::is_same_v<F, std::nullptr_t>) each(k);
    }
    return out;
  }
  void run2(const Samples& a, const Samples& b, Samples& oa, Samples& ob) {
    oa.assign(a.size(), 0);
    ob.assign(a.size(), 0);
    for (std::size_t i = 0; i + frame_len() <= a.size(); i += frame_len())
      frame(&a[i], &oa[i], &b[i], &ob[i]);
  }
  Block block;
  Vocrel_RNR_Params params;
  void* handle = nullptr;
  std::int32_t status;
  std::int32_t last = 0;  // status of the latest frame
};

// Stack bytes that fn() touches: fn runs on a thread whose stack is a painted
// heap block, and the deepest overwritten byte is found afterwards. The
// figure of an empty fn (thread start-up) is subtracted.
template <typename F>
std::size_t stack_high_water(F&& fn) {
  constexpr std::size_t kSize = 256 * 1024;
  struct Ctx {
    F* f;
    bool empty;
  };
  auto depth = [&](bool empty) {
    auto* mem = static_cast<unsigned char*>(std::aligned_alloc(4096, kSize));
    std::memset(mem, 0xA5, kSize);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, mem, kSize);
    Ctx ctx{&fn, empty};
    pthread_t t;
    pthread_create(
        &t, &attr,
        [](void* p) -> void* {
          auto* c = static_cast<Ctx*>(p);
          if (!c->empty) (*c->f)();
          return nullptr;
        },
        &ctx);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
    std::size_t i = 0;
    while (i < kSize && mem[i] == 0xA5) ++i;
    std::free(mem);
    return kSize - i;
  };
  const std::size_t base = depth(true);
  const std::size_t used = depth(false);
  return used > base ? used - base : 0;
}

// A whole file's bytes, and a file written from bytes (the tool tests).
inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void spill(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace vocrel_test
