// Helpers shared by the API tests: an instance in a heap block of any
// alignment, and a byte-for-byte snapshot to prove that failing calls write
// nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "vocrel_rnr.h"

namespace vocrel_test {

inline Vocrel_RNR_Params params_for(std::int32_t rate, std::int32_t channels, std::int32_t mode) {
  Vocrel_RNR_Params p =
      mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.sampleRate = rate;
  p.channels = channels;
  p.mode = mode;
  return p;
}

// A block of `size` bytes whose start lies `misalign` bytes past a multiple of 8.
struct Block {
  explicit Block(std::size_t size = VOCREL_RNR_MEM_SIZE, std::size_t misalign = 0)
      : storage(size + 16, 0xA5), size(size) {
    auto addr = reinterpret_cast<std::uintptr_t>(storage.data());
    std::size_t pad = (8 - addr % 8) % 8 + misalign;
    mem = storage.data() + pad;
  }
  std::vector<std::uint8_t> storage;
  std::uint8_t* mem;
  std::size_t size;
};

struct Instance {
  explicit Instance(const Vocrel_RNR_Params& p, std::size_t misalign = 0)
      : block(VOCREL_RNR_MEM_SIZE, misalign), params(p) {
    status = Vocrel_RNR_Init(&handle, block.mem, VOCREL_RNR_MEM_SIZE, &params);
  }
  std::uint32_t frame_len() const { return static_cast<std::uint32_t>(params.sampleRate / 100); }
  std::uint32_t* words() const { return static_cast<std::uint32_t*>(handle); }
  Block block;
  Vocrel_RNR_Params params;
  void* handle = nullptr;
  std::int32_t status;
};

inline std::vector<std::uint8_t> snapshot(const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return std::vector<std::uint8_t>(b, b + n);
}

// 64-bit FNV-1a over 16-bit samples, little-endian byte order on every target.
inline std::uint64_t fnv1a(const std::int16_t* x, std::size_t n,
                           std::uint64_t h = 1469598103934665603ull) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto u = static_cast<std::uint16_t>(x[i]);
    for (int b = 0; b < 2; ++b) {
      h ^= (u >> (8 * b)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
  return h;
}

}  // namespace vocrel_test
