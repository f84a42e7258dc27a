// Fuzz target: the host wrapper. Any mode configuration and rate at
// creation, then blocks of any byte length (whole frames or not, odd, empty),
// in place or not. Creation succeeds exactly for the configurations the
// engine accepts and leaks nothing otherwise (LeakSanitizer); a block is
// processed frame by frame without touching a byte past its end, and the
// part of the output after the last whole frame is left alone.
#include "fuzz_util.h"
#include "vocrel_rnr_host.h"

using namespace fuzz;

namespace {

constexpr int kMaxBlocks = 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  static constexpr std::int32_t kRates[] = {8000, 16000, 48000, 44100, 0};
  std::int32_t rate = kRates[fdp.ConsumeIntegralInRange<int>(0, 4)];
  if (fdp.ConsumeIntegralInRange<int>(0, 15) == 0) rate = fdp.ConsumeIntegral<std::int32_t>();
  Exact<TQ_RNR_NrSettings> s;
  s->useCustom =
      fdp.ConsumeBool() ? 0 : (fdp.ConsumeBool() ? 1 : fdp.ConsumeIntegral<std::int32_t>());
  s->mode =
      fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<std::int32_t>(0, 1) : pick_word(fdp, 0, 1);
  s->maxNrDb = pick_word(fdp, VOCREL_RNR_MAX_NR_MIN, VOCREL_RNR_MAX_NR_MAX);
  s->levelThrDb = pick_word(fdp, VOCREL_RNR_LEVEL_THR_MIN, VOCREL_RNR_LEVEL_THR_MAX);
  Exact<TQ_RNR_ModeConfig> cfg;
  for (auto& w : cfg->hostWords) w = fdp.ConsumeIntegral<std::int32_t>();
  cfg->nrSettings = s.get();
  const bool nullCfg = fdp.ConsumeIntegralInRange<int>(0, 31) == 0;

  // What the wrapper hands to the engine.
  const bool custom = s->useCustom != 0;
  const bool substitute = (rate == 8000 || rate == 16000) && s->mode == 0;
  const std::int32_t engineRate = substitute ? 48000 : rate;
  Vocrel_RNR_Params p{};
  p.maxNr = custom ? s->maxNrDb : 10;
  p.hpFilterOn = 0;
  p.levelThrDb = custom ? s->levelThrDb : -50;
  p.levelAdaptOff = 1;
  p.vadBandThr = 50;
  const std::int32_t mode = custom ? s->mode : 0;
  std::int32_t expect = VOCREL_RNR_OK;
  if (nullCfg || (custom && rate == 48000 && s->mode == 1)) {
    expect = -1;
  } else if ((expect = expected_stream(engineRate, 1, mode)) == 0) {
    expect = expected_tunables(p);
  }
  const std::size_t frame = substitute ? 480 : frame_len(rate);

  void* const sentinel = &expect;
  void* handle = sentinel;
  const std::int32_t rc = TQ_RNR_Init(&handle, rate, nullCfg ? nullptr : cfg.get());
  FUZZ_CHECK(rc == expect);
  if (rc != 0) {
    FUZZ_CHECK(handle == sentinel);
    return 0;
  }
  FUZZ_CHECK(handle != sentinel && handle != nullptr);

  bool silentSoFar = true;
  for (int b = 0; b < kMaxBlocks && fdp.remaining_bytes() > 0; ++b) {
    // Whole frames, whole frames and a part, or any length.
    const int shape = fdp.ConsumeIntegralInRange<int>(0, 3);
    const auto frames = static_cast<std::uint32_t>(frame);
    const std::uint32_t bytes =
        shape == 0   ? 2 * frames * fdp.ConsumeIntegralInRange<std::uint32_t>(0, 3)
        : shape == 1 ? 2 * frames * fdp.ConsumeIntegralInRange<std::uint32_t>(1, 3) +
                           fdp.ConsumeIntegralInRange<std::uint32_t>(1, 2 * 480)
                     : fdp.ConsumeIntegralInRange<std::uint32_t>(0, 4000);
    Exact<std::uint8_t> inBuf(bytes), outBuf(bytes);
    std::uint8_t* const in = inBuf.get();
    std::uint8_t* const out = outBuf.get();
    const std::size_t samples = bytes / 2;
    for (std::size_t i = 0; i < samples; i += frame) {
      fill_audio(fdp, reinterpret_cast<std::int16_t*>(in) + i, std::min(frame, samples - i));
    }
    if (bytes % 2) in[bytes - 1] = 0x7E;
    std::memset(out, 0xA4, bytes);
    const bool inPlace = fdp.ConsumeBool();
    Exact<TQ_RNR_AudioFrame> inRec, outRec;
    inRec->data = reinterpret_cast<std::int16_t*>(in);
    inRec->tag = fdp.ConsumeIntegral<std::uintptr_t>();
    inRec->unused[0] = fdp.ConsumeIntegral<std::uint32_t>();
    inRec->lengthBytes = bytes;
    outRec->data = reinterpret_cast<std::int16_t*>(inPlace ? in : out);
    outRec->lengthBytes = 0xDEADu;
    const TQ_RNR_AudioFrame inRecBefore = *inRec;
    const Bytes inBefore = snapshot(in, bytes), outBefore = snapshot(out, bytes);

    const std::int32_t prc = TQ_RNR_Process(handle, inRec.get(), outRec.get());
    FUZZ_CHECK(prc == 0);
    FUZZ_CHECK(std::memcmp(inRec.get(), &inRecBefore, sizeof inRecBefore) == 0);
    FUZZ_CHECK(outRec->lengthBytes == bytes && outRec->tag == inRec->tag);
    FUZZ_CHECK(outRec->data == reinterpret_cast<std::int16_t*>(inPlace ? in : out));
    // Whole frames are processed; what follows the last one is untouched.
    const std::size_t done = 2 * (samples / frame) * frame;
    if (!inPlace) FUZZ_CHECK(same(in, inBefore));
    const std::uint8_t* o = inPlace ? in : out;
    const Bytes& oBefore = inPlace ? inBefore : outBefore;
    if (bytes > done) FUZZ_CHECK(std::memcmp(o + done, oBefore.data() + done, bytes - done) == 0);
    bool silentIn = true;
    for (std::size_t i = 0; i < done; ++i) silentIn = silentIn && inBefore[i] == 0;
    silentSoFar = silentSoFar && silentIn;
    if (silentSoFar) {
      for (std::size_t i = 0; i < done; ++i) FUZZ_CHECK(o[i] == 0);
    }
  }
  // Null records are refused without touching the instance.
  TQ_RNR_AudioFrame dummy{};
  FUZZ_CHECK(TQ_RNR_Process(handle, nullptr, &dummy) != 0);
  FUZZ_CHECK(TQ_RNR_DeInit(handle) == 0);
  FUZZ_CHECK(TQ_RNR_DeInit(nullptr) == 0);
  return 0;
}
