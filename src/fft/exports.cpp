// The complex FFT's exported C names, each a forward to the routine in
// vocrel::fft that does the work (fft_setup.cpp, fft_engine.cpp). The entries
// check their arguments here, once: a refused call writes nothing, and every
// entry returns 0 whether it did its work or refused. The engine calls the
// routines directly, so the entries are built for size (cold).
#include <cstdint>

#include "fft/fft_engine.h"
#include "fft/fft_setup.h"
#include "fft/vocrel_fft.h"

using namespace vocrel::fft;

namespace {

// The transforms trust nothing in the record: a length that is not a power of
// two from 1 to 4096 leaves every buffer untouched. Returns the order, or -1
// when the call must be refused.
int usable_order(const std::int32_t* src, const std::int32_t* dst,
                 const Vocrel_FFTSpec_C_SC32* spec) {
  if (src == nullptr || dst == nullptr || spec == nullptr) return -1;
  const std::int32_t n = spec->N;
  return valid_length(n) ? order_of_length(n) : -1;
}

bool usable_set_up_order(std::int32_t order) { return order >= 0 && order <= kMaxOrder; }

}  // namespace

extern "C" {

// Orders past the master table cannot be set up: they report no usable size.
[[gnu::cold]] std::int32_t Vocrel_FFTGetBufSize_C_SC32(std::int32_t order, std::int32_t* size) {
  if (size != nullptr) *size = usable_set_up_order(order) ? setup_bytes(order) : 0;
  return 0;
}

[[gnu::cold]] std::int32_t Vocrel_FFTInit_C_SC32(void* mem, std::int32_t order) {
  if (mem != nullptr && usable_set_up_order(order)) build_setup(mem, order);
  return 0;
}

[[gnu::cold]] std::int32_t Vocrel_FFTFwd_C_SC32(const std::int32_t* src, std::int32_t* dst,
                                                const Vocrel_FFTSpec_C_SC32* spec,
                                                std::int32_t scale) {
  const int order = usable_order(src, dst, spec);
  if (order >= 0 && scale >= 0) transform(src, dst, spec, order, scale, Direction::kForward);
  return 0;
}

[[gnu::cold]] std::int32_t Vocrel_FFTInv_C_SC32(const std::int32_t* src, std::int32_t* dst,
                                                const Vocrel_FFTSpec_C_SC32* spec,
                                                std::int32_t scale) {
  const int order = usable_order(src, dst, spec);
  if (order >= 0 && scale >= -order) transform(src, dst, spec, order, scale, Direction::kInverse);
  return 0;
}

}  // extern "C"
