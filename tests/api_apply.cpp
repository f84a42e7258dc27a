// Instance placement and header, trace codes and re-init. The checks of
// Vocrel_RNR_Apply are in robust_codes.cpp, counter wraps in
// robust_counters.cpp, the floor-noise trace codes in host_wrapper.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/layout.h"
#include "test_util.h"

using namespace vocrel_test;

namespace {

struct Frame {
  explicit Frame(std::uint32_t n) : in0(n, 100), in1(n, -100), out0(n, 7), out1(n, 7) {
    io = {in0.data(), in1.data(), n, out0.data(), out1.data()};
  }
  Samples in0, in1, out0, out1;
  Vocrel_RNR_FrameIo io;
};

TEST(Layout, PlacementAndHeaderWords) {
  for (std::size_t mis : {0u, 1u, 4u, 7u}) {
    Instance inst(params_for(48000), mis);
    ASSERT_EQ(inst.status, 0);
    const auto offset =
        static_cast<std::size_t>(static_cast<std::uint8_t*>(inst.handle) - inst.block.mem);
    EXPECT_EQ(offset, mis == 0 ? 0 : 8 - mis);
    EXPECT_LE(offset + vocrel::kInstanceBytes, VOCREL_RNR_MEM_SIZE);  // one byte to spare at mis 1
  }
  const std::int32_t cases[][4] = {{8000, 1, 0, 80},
                                   {16000, 2, 0, 160},
                                   {48000, 2, 0, 480},
                                   {8000, 2, 1, 80},
                                   {16000, 1, 1, 160}};
  for (const auto& c : cases) {
    auto p = params_for(c[0], c[1], c[2]);
    p.maxNr = 9;
    p.levelThrDb = -44;
    Instance inst(p);
    ASSERT_EQ(inst.status, 0);
    const std::uint32_t want[][2] = {{0, vocrel::kGuard},
                                     {1, std::uint32_t(c[3])},
                                     {2, 28264},
                                     {3, vocrel::kMagic},
                                     {4, 9},
                                     {6, std::uint32_t(-44)},
                                     {16, std::uint32_t(c[0])},
                                     {17, std::uint32_t(c[1])},
                                     {18, std::uint32_t(c[2])},
                                     {7063, vocrel::kGuard}};
    for (const auto& w : want) EXPECT_EQ(inst.at(4 * w[0]), w[1]) << "word " << w[0];
  }
}

// Environment-noise path: code 1 and the driver's 12 codes per channel, the
// last 17. Whether a trace is given changes no output (robust_threads.cpp).
TEST(Apply, TraceCodes) {
  Instance inst(params_for(8000, 2, 1));
  Frame f(80);
  Vocrel_RNR_TraceRec trace{};
  trace.base = 200;
  ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, &trace), 0);
  EXPECT_EQ(trace.count, 26u);
  EXPECT_EQ(trace.base, 200u);
  // Slot (next AND 60) of a cleared record is slot 0 for every write: the
  // count tells how many codes ran, slot 0 holds the last.
  EXPECT_EQ(trace.slot[0], 217u);
  for (int i = 1; i < VOCREL_RNR_TRACE_SLOTS; ++i) EXPECT_EQ(trace.slot[i], 0u) << i;
}

// Everything the frames changed is back at its start value, except the FFT
// scratch arrays, which every transform overwrites.
TEST(Apply, ReinitStartsAFreshInstance) {
  for (int mode = 0; mode < 2; ++mode) {
    Instance inst(params_for(16000, 1, mode));
    const auto fresh = inst.bytes();
    Frame f(160);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(Vocrel_RNR_Apply(inst.handle, &f.io, nullptr), 0);
    void* h2 = nullptr;
    ASSERT_EQ(Vocrel_RNR_Init(&h2, inst.block.mem, VOCREL_RNR_MEM_SIZE, &inst.params), 0);
    EXPECT_EQ(h2, inst.handle);
    const auto again = inst.bytes();
    EXPECT_TRUE(std::equal(again.begin() + vocrel::kPathStateOffset, again.end(),
                           fresh.begin() + vocrel::kPathStateOffset));
  }
}

}  // namespace
