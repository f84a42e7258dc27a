// Block-floating-point real-frame transforms of the two noise-reduction paths.
//
// A real frame of N samples sits in the real parts of N interleaved pairs
// (2N words). Before transforming, the block is shifted by s so that its
// largest magnitude keeps exactly log2 N bits of headroom (the growth of an
// unscaled transform): s = sat16(norm(M) - order), so an all-zero block
// gets s = -order and stays zero. The caller undoes s through the returned
// exponents.
//
// N comes from the caller (derived from the verified sample rate) and bounds
// every access to src and dst. The transform runs only when the set-up record
// was built for that same N; otherwise dst is left all zero, so a damaged
// record costs one frame of silence, never an access outside the set-up.
#include "dsp/block_fft.h"

#include <cstdint>

#include "fft/fft_engine.h"
#include "fft/fft_setup.h"
#include "math/fixed.h"
#include "math/vec_kernels.h"

namespace vocrel::dsp {
namespace {

using namespace vocrel::fft;

constexpr std::int32_t kBlockWords = 16;  // the floor-noise loops run in blocks of 16 words
constexpr int kExpOffset = 16;            // exponents count the output in units of 2^-16

// log2 N as sat16(30 - norm(N)); exact for the powers of two in use.
int block_order(std::int32_t n) { return sat16(30 - norm32(n)); }

// Shift counts beyond +-32 give the same words as +-32 (0, or 0 / -1).
int clamp_shift(std::int32_t s) { return s > 32 ? 32 : (s < -32 ? -32 : s); }

// norm32 of the largest saturating magnitude M (-2^31 counts as 2^31 - 1) of
// words[0..count). For M >= 0, norm32 depends only on M's leading bit, which
// is the leading bit of all the magnitudes ORed together (modulo 2^32, where
// -2^31 sets bit 31: that counts as 2^31 - 1, whose norm is 0 too).
int peak_norm(const std::int32_t* words, std::int32_t count) {
  const std::uint32_t bits = vec_kernels().magnitude_bits(words, count);
  return bits > static_cast<std::uint32_t>(kInt32Max) ? 0 : norm32(static_cast<std::int32_t>(bits));
}

// First word visited by the floor-noise block loops: the blocks of 16 words
// run from the end toward the start and leave out the first count mod 16.
std::int32_t first_block_word(std::int32_t count) { return count % kBlockWords; }

// The same over the blocks of 16 words that the floor-noise loops visit (0
// when there are none, as for an all-zero block).
int peak_norm_blocks(const std::int32_t* words, std::int32_t count) {
  if (count < kBlockWords) return 0;
  const std::int32_t first = first_block_word(count);
  return peak_norm(words + first, count - first);
}

// Every Stride-th word of words[0..count) shifted by s in -32..32: plain
// (wrapping) left for s >= 0, arithmetic right otherwise.
template <int Stride>
void shift_wrap_words(std::int32_t* words, std::int32_t count, int s) {
  if constexpr (Stride == 1) {
    vec_kernels().shift_words(words, count, s);
  } else if (s >= 0) {
    for (std::int32_t i = 0; i < count; i += Stride) words[i] = shl_wrap32(words[i], s);
  } else {
    for (std::int32_t i = 0; i < count; i += Stride) words[i] = shr32(words[i], -s);
  }
}

// Plain (wrapping) shift of every Stride-th word of each block of 16 that the
// floor-noise loops visit. Each word is shifted on its own, so the order of
// the blocks does not matter.
template <int Stride>
void shift_blocks(std::int32_t* words, std::int32_t count, std::int32_t shift) {
  if (count < kBlockWords) return;
  const std::int32_t first = first_block_word(count);
  shift_wrap_words<Stride>(words + first, count - first, clamp_shift(shift));
}

void clear(std::int32_t* words, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) words[i] = 0;
}

// Word count 2N of a frame the transforms accept: N a power of two, 1..4096;
// 0 otherwise, which makes every loop empty.
std::int32_t frame_words(std::int32_t n) { return valid_length(n) ? 2 * n : 0; }

// True when spec is a set-up for exactly n points.
bool matches(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t n) {
  return spec != nullptr && valid_length(n) && spec->N == n;
}

// Saturating block shift of the environment-noise family over all words:
// returns s = sat16(norm(M) - order) for the largest saturating magnitude M.
// A left shift is at most norm(M), and every magnitude is below
// 2^(31 - norm(M)), so it never reaches the clamp: the plain shift gives the
// same words and vectorises.
std::int32_t normalise_saturating(std::int32_t* words, std::int32_t count, int order) {
  const std::int32_t s = sat16(peak_norm(words, count) - order);
  shift_wrap_words<1>(words, count, clamp_shift(s));
  return s;
}

// Transform src -> dst when the set-up matches n, else leave dst zero. With
// kept < n only the real parts of outputs 0..kept-1 are guaranteed.
void guarded_transform(const std::int32_t* src, std::int32_t* dst,
                       const Vocrel_FFTSpec_C_SC32* spec, std::int32_t n, std::int32_t scale,
                       Direction dir, std::int32_t kept) {
  if (matches(spec, n)) {
    transform_real_head(src, dst, spec, order_of_length(n), scale, dir, kept);
  } else {
    clear(dst, frame_words(n));
  }
}

void guarded_transform(const std::int32_t* src, std::int32_t* dst,
                       const Vocrel_FFTSpec_C_SC32* spec, std::int32_t n, std::int32_t scale,
                       Direction dir) {
  guarded_transform(src, dst, spec, n, scale, dir, n);
}

}  // namespace

// Forward transform with a saturating block shift over all 2N words. The
// output shifted right by *expOut = s + 16 is the spectrum of the frame as
// passed in, divided by 65536; the result adds the order (s + 16 + order).
std::int16_t rnr_fft(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N, std::int32_t* src,
                     std::int32_t* dst, std::int16_t* expOut) {
  const std::int32_t words = frame_words(N);
  const int order = block_order(N);
  const std::int32_t s = normalise_saturating(src, words, order);
  guarded_transform(src, dst, spec, N, 0, Direction::kForward);  // writes or clears every word
  *expOut = lo16(s + kExpOffset);
  return lo16(s + kExpOffset + order);
}

// Inverse sum without the 1/N factor of the saturating block-shifted
// spectrum; returns the block shift s.
std::int32_t rnr_ifft_real_head(const Vocrel_FFTSpec_C_SC32* spec, std::int32_t N,
                                std::int32_t* src, std::int32_t* dst, std::int32_t kept) {
  const int order = block_order(N);
  const std::int32_t s = normalise_saturating(src, frame_words(N), order);
  guarded_transform(src, dst, spec, N, -order, Direction::kInverse, kept);
  return s;
}

// Forward transform of a real frame whose largest magnitude the caller
// supplies (maxAbs): only the real parts are shifted, without saturation, and
// dst is not cleared first. Returns the exponent sat16(s + 16).
std::int16_t fnr_fft(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                     const Vocrel_FFTSpec_C_SC32* spec, std::int32_t maxAbs) {
  const std::int32_t words = frame_words(N);
  const std::int32_t s = sat16(norm32(maxAbs) - block_order(N));
  shift_blocks<2>(src, words, s);
  guarded_transform(src, dst, spec, N, 0, Direction::kForward);
  return sat16(std::int64_t{s} + kExpOffset);
}

// Normalised inverse (1/N through halving stages) of the plainly block-shifted
// spectrum; returns the block shift s.
std::int32_t fnr_ifft_real_head(std::int32_t N, std::int32_t* src, std::int32_t* dst,
                                const Vocrel_FFTSpec_C_SC32* spec, std::int32_t kept) {
  const std::int32_t words = frame_words(N);
  const std::int32_t s = sat16(peak_norm_blocks(src, words) - block_order(N));
  shift_blocks<1>(src, words, s);
  guarded_transform(src, dst, spec, N, 0, Direction::kInverse, kept);
  return s;
}

// The two shifts serve callers outside the engine (the frames shift inside
// the transforms): built for size.
[[gnu::cold]] void shift_even_words_in_blocks(std::int32_t shift, std::int32_t* buf,
                                              std::int32_t nWords) {
  shift_blocks<2>(buf, nWords, shift);
}

[[gnu::cold]] void shift_words_in_blocks(std::int32_t shift, std::int32_t* buf,
                                         std::int32_t nWords) {
  shift_blocks<1>(buf, nWords, shift);
}

}  // namespace vocrel::dsp
