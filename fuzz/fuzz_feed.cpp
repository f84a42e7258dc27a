// Fuzz target: the frame feed (automatic threshold, silence hold) over frames
// of digital silence, dither, dropouts, noise and full-scale blocks, with the
// feed record, the spare block and the instance overwritten at random between
// frames. Nothing may be read or written outside the instance, the spare
// block, the feed record and the frame buffers (all exactly sized), and every
// status is 0, 1 or a defined refusal. While nothing is overwritten, a feed
// with both switches off gives Apply's output exactly.
#include "fuzz_util.h"
#include "vocrel_rnr_feed.h"

using namespace fuzz;

namespace {

constexpr int kMaxFrames = 120;

// One channel's frame of a kind the feed must tell apart: digital silence, a
// unit of dither, a dropout starting, sound returning, full scale, or noise.
void fill_frame(FuzzedDataProvider& fdp, std::int16_t* x, std::size_t n) {
  const int kind = fdp.ConsumeIntegralInRange<int>(0, 5);
  const int level = fdp.ConsumeIntegralInRange<int>(1, 12000);
  Lcg g{fdp.ConsumeIntegral<std::uint32_t>()};
  const std::size_t cut = fdp.ConsumeIntegralInRange<std::size_t>(0, n);
  for (std::size_t i = 0; i < n; ++i) {
    const int r = static_cast<int>(g.next() >> 16) % (2 * level + 1) - level;
    const int kinds[] = {0, r % 2, i < cut ? r : 0, i < cut ? 0 : r, i % 2 ? 32767 : -32768, r};
    x[i] = static_cast<std::int16_t>(kinds[kind]);
  }
}

void overwrite(FuzzedDataProvider& fdp, void* p, std::size_t n) {
  auto* b = static_cast<std::uint8_t*>(p);
  const std::size_t count = fdp.ConsumeIntegralInRange<std::size_t>(1, 8);
  for (std::size_t k = 0; k < count; ++k)
    b[fdp.ConsumeIntegralInRange<std::size_t>(0, n - 1)] = fdp.ConsumeIntegral<std::uint8_t>();
}

bool defined_status(std::int32_t s) {
  return s == 0 || s == 1 || (s >= VOCREL_RNR_E_MODE_RATE && s <= VOCREL_RNR_E_NULL_HANDLE) ||
         s == VOCREL_RNR_AUTOTHR_E_NULL || s == VOCREL_RNR_AUTOTHR_E_STATE ||
         s == VOCREL_RNR_FEED_E_STATE || s == VOCREL_RNR_FEED_E_SPARE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  static constexpr std::int32_t kRates[] = {8000, 16000, 48000};
  Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  p.mode = fdp.ConsumeIntegralInRange<int>(0, 1);
  if (p.mode == 1) p = g_Vocrel_RNR_Params_Env_8k_MONO;
  p.sampleRate = kRates[fdp.ConsumeIntegralInRange<int>(0, p.mode == 1 ? 1 : 2)];
  p.channels = fdp.ConsumeIntegralInRange<int>(1, 2);
  const std::uint32_t flags = fdp.ConsumeIntegralInRange<std::uint32_t>(0, 3);

  Block block(VOCREL_RNR_MEM_SIZE, fdp.ConsumeIntegral<std::uint8_t>(), 0xA5);
  Block twin(VOCREL_RNR_MEM_SIZE, fdp.ConsumeIntegral<std::uint8_t>(), 0x5A);
  Exact<std::uint8_t> spare(VOCREL_RNR_FEED_SPARE_SIZE);
  Exact<Vocrel_RNR_Feed> feed;
  void* h = init_instance(block, p);
  void* ht = init_instance(twin, p);
  FUZZ_CHECK(Vocrel_RNR_FeedInit(feed.get(), h, flags) == VOCREL_RNR_OK);

  const auto n = static_cast<std::size_t>(p.sampleRate / 100);
  Samples in0(n), in1(n), out0(n), out1(n), ref0(n), ref1(n);
  bool damaged = false;
  for (int k = 0; k < kMaxFrames && fdp.remaining_bytes() > 0; ++k) {
    fill_frame(fdp, in0.data(), n);
    fill_frame(fdp, in1.data(), n);
    switch (fdp.ConsumeIntegralInRange<int>(0, 15)) {
      case 0:
        overwrite(fdp, feed.get(), sizeof(Vocrel_RNR_Feed));
        damaged = true;
        break;
      case 1:
        overwrite(fdp, spare.get(), VOCREL_RNR_FEED_SPARE_SIZE);
        damaged = true;
        break;
      case 2:
        overwrite(fdp, block.instance(), kInstanceBytes);
        damaged = true;
        break;
      default:
        break;
    }
    const bool two = p.channels == 2;
    Vocrel_RNR_FrameIo io = {in0.data(), two ? in1.data() : nullptr, static_cast<std::uint32_t>(n),
                             out0.data(), two ? out1.data() : nullptr};
    std::int32_t thr = 0;
    const std::int32_t s = Vocrel_RNR_FeedFrame(feed.get(), h, spare.get(), &io, &thr);
    FUZZ_CHECK(defined_status(s));
    if (damaged || flags != 0) continue;
    Vocrel_RNR_FrameIo ref = {in0.data(), two ? in1.data() : nullptr, static_cast<std::uint32_t>(n),
                              ref0.data(), two ? ref1.data() : nullptr};
    FUZZ_CHECK(s == VOCREL_RNR_OK && Vocrel_RNR_Apply(ht, &ref, nullptr) == VOCREL_RNR_OK);
    FUZZ_CHECK(out0.bytes() == ref0.bytes() && (!two || out1.bytes() == ref1.bytes()));
  }
  return 0;
}
