// Frame counters at their wrap points. Both paths restart their counter past
// every start-up threshold, so an instance whose counter wraps must go on
// exactly as one that merely counted on: same output, bit for bit, and no
// start-up rule re-entered. The one rule that still looks at the restart value
// (the third detector of the environment-noise path waits for frame 101) may
// change the audio only slightly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "robust_signal.h"
#include "vocrel_rnr.h"

namespace {

constexpr std::size_t kPathState = 14528;
constexpr std::size_t kRnrChan[2] = {14528, 21388};
constexpr std::size_t kRnrFrameCnt = 2260;  // within a channel state
constexpr std::size_t kFnrFrameCnt = kPathState + 4;
constexpr std::uint32_t kRnrLast = 0xFFFFFFA0u;  // largest count before the restart at 100
constexpr std::uint32_t kFnrLast = 0x0FFFFFFEu;  // largest count before the restart at 1000

struct Stream {
  Stream(std::int32_t rate, std::int32_t channels, std::int32_t mode, std::int32_t vad3On)
      : block(VOCREL_RNR_MEM_SIZE), n(static_cast<std::size_t>(rate / 100)) {
    Vocrel_RNR_Params p =
        mode == 1 ? g_Vocrel_RNR_Params_Env_8k_MONO : g_Vocrel_RNR_Params_Flr_48k_MONO;
    p.sampleRate = rate;
    p.channels = channels;
    p.mode = mode;
    p.vad3On = vad3On;
    status = Vocrel_RNR_Init(&handle, block.data(), VOCREL_RNR_MEM_SIZE, &p);
    for (auto* v : {&in0, &in1, &out0, &out1}) v->resize(n);
    io = {in0.data(), in1.data(), static_cast<std::uint32_t>(n), out0.data(), out1.data()};
  }
  std::uint32_t& counter(std::size_t offset) {
    return *reinterpret_cast<std::uint32_t*>(static_cast<char*>(handle) + offset);
  }
  std::vector<std::uint8_t> block;
  std::size_t n;
  void* handle = nullptr;
  std::int32_t status;
  std::vector<std::int16_t> in0, in1, out0, out1;
  Vocrel_RNR_FrameIo io;
};

double energy(const std::vector<std::int16_t>& x) {
  double e = 0;
  for (std::int16_t v : x) e += static_cast<double>(v) * v;
  return e;
}

// Runs a reference instance and one whose counters are moved to `preset`
// after `warm` frames, on the same speech-in-noise input; reports per frame
// whether both produced the same output, and the energies after the move.
struct Comparison {
  int framesDiffering = 0;
  double refEnergy = 0, wrapEnergy = 0;
  std::vector<std::uint32_t> counts;  // the moved instance's counter after each frame
};

Comparison run_pair(std::int32_t rate, std::int32_t channels, std::int32_t mode,
                    std::int32_t vad3On, std::uint32_t preset, int warm, int after) {
  Stream ref(rate, channels, mode, vad3On), wrap(rate, channels, mode, vad3On);
  EXPECT_EQ(ref.status, 0);
  EXPECT_EQ(wrap.status, 0);
  robust::SpeechLike s0(rate, 11), s1(rate, 12);
  Comparison c;
  const std::size_t first = mode == 1 ? kRnrChan[0] + kRnrFrameCnt : kFnrFrameCnt;
  for (int f = 0; f < warm + after; ++f) {
    if (f == warm) {
      if (mode == 1) {
        for (int ch = 0; ch < channels; ++ch) wrap.counter(kRnrChan[ch] + kRnrFrameCnt) = preset;
      } else {
        wrap.counter(kFnrFrameCnt) = preset;
      }
    }
    s0.fill(ref.in0.data(), ref.n, -22, -42);
    s1.fill(ref.in1.data(), ref.n, -28, -38);
    wrap.in0 = ref.in0;
    wrap.in1 = ref.in1;
    EXPECT_EQ(Vocrel_RNR_Apply(ref.handle, &ref.io, nullptr), 0);
    EXPECT_EQ(Vocrel_RNR_Apply(wrap.handle, &wrap.io, nullptr), 0);
    if (f < warm) continue;
    const bool same = ref.out0 == wrap.out0 && (channels == 1 || ref.out1 == wrap.out1);
    c.framesDiffering += same ? 0 : 1;
    c.refEnergy += energy(ref.out0) + energy(ref.out1);
    c.wrapEnergy += energy(wrap.out0) + energy(wrap.out1);
    c.counts.push_back(wrap.counter(first));
    if (mode == 1 && channels == 2) {
      EXPECT_EQ(wrap.counter(kRnrChan[1] + kRnrFrameCnt), c.counts.back());
    }
  }
  return c;
}

}  // namespace

TEST(Counters, FloorNoiseWrapChangesNothingAudible) {
  struct {
    std::int32_t rate, channels;
  } cases[] = {{8000, 1}, {16000, 2}, {48000, 1}};
  for (const auto& k : cases) {
    const Comparison c = run_pair(k.rate, k.channels, 0, 0, kFnrLast - 2, 150, 200);
    ASSERT_GE(c.counts.size(), 4u);
    // 0x0FFFFFFD, 0x0FFFFFFE, then 0x0FFFFFFF reaches the limit: 1000, 1001, ...
    EXPECT_EQ(c.counts[0], kFnrLast - 1);
    EXPECT_EQ(c.counts[1], kFnrLast);
    EXPECT_EQ(c.counts[2], 1000u);
    EXPECT_EQ(c.counts.back(), 1000u + c.counts.size() - 3);
    EXPECT_EQ(c.framesDiffering, 0) << k.rate << " Hz";
  }
}

TEST(Counters, EnvironmentNoiseWrapChangesNothingWithoutThirdDetector) {
  for (std::int32_t rate : {8000, 16000}) {
    const Comparison c = run_pair(rate, 2, 1, 0, kRnrLast - 2, 150, 200);
    ASSERT_GE(c.counts.size(), 4u);
    // 0xFFFFFF9F, 0xFFFFFFA0, then 0xFFFFFFA1 exceeds the limit: 100, 101, ...
    EXPECT_EQ(c.counts[0], kRnrLast - 1);
    EXPECT_EQ(c.counts[1], kRnrLast);
    EXPECT_EQ(c.counts[2], 100u);
    EXPECT_EQ(c.counts.back(), 100u + c.counts.size() - 3);
    EXPECT_EQ(c.framesDiffering, 0) << rate << " Hz";
  }
}

TEST(Counters, EnvironmentNoiseWrapWithThirdDetectorStaysClose) {
  // At the restart value 100 the third detector sits out one frame; the
  // audio may differ from then on, but only by a fraction of a dB, and the
  // instance keeps counting.
  for (std::int32_t rate : {8000, 16000}) {
    const Comparison c = run_pair(rate, 1, 1, 1, kRnrLast - 2, 150, 300);
    EXPECT_EQ(c.counts.back(), 100u + c.counts.size() - 3);
    ASSERT_GT(c.refEnergy, 0);
    ASSERT_GT(c.wrapEnergy, 0);
    EXPECT_NEAR(10 * std::log10(c.wrapEnergy / c.refEnergy), 0.0, 0.5) << rate << " Hz";
  }
}
