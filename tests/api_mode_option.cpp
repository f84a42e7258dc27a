// The environment-noise path is a build option: with it (the default) a
// mode-1 stream sets up; without it (VOCREL_MODE1=OFF) GetSize and Init
// refuse one with VOCREL_RNR_E_MODE and write nothing, while mode 0 runs
// unchanged.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "test_util.h"
#include "vocrel_rnr.h"

namespace {

constexpr std::int32_t kMode1Status = VOCREL_MODE1 ? VOCREL_RNR_OK : VOCREL_RNR_E_MODE;

TEST(ApiModeOption, Mode1SetsUpExactlyWhenBuilt) {
  for (const std::int32_t rate : {8000, 16000}) {
    for (const std::int32_t channels : {1, 2}) {
      Vocrel_RNR_StreamCfg stream{rate, channels, 1};
      Vocrel_RNR_MemInfo info{0x5A5A5A5A, 0x5A5A5A5A, 0x5A5A5A5A};
      EXPECT_EQ(Vocrel_RNR_GetSize(&info, &stream), kMode1Status);
      if (!VOCREL_MODE1) {
        EXPECT_EQ(info.memSize, 0x5A5A5A5Au);
      }

      vocrel_test::Block block;
      const std::vector<std::uint8_t> before = block.storage;
      void* handle = nullptr;
      const Vocrel_RNR_Params p = vocrel_test::params_for(rate, channels, 1);
      EXPECT_EQ(Vocrel_RNR_Init(&handle, block.mem, VOCREL_RNR_MEM_SIZE, &p), kMode1Status);
      if (!VOCREL_MODE1) {
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(block.storage, before);
      }
    }
  }
}

TEST(ApiModeOption, Mode0IsUnaffected) {
  for (const std::int32_t rate : {8000, 16000, 48000}) {
    Vocrel_RNR_StreamCfg stream{rate, 2, 0};
    Vocrel_RNR_MemInfo info{};
    ASSERT_EQ(Vocrel_RNR_GetSize(&info, &stream), VOCREL_RNR_OK);
    vocrel_test::Block block;
    void* handle = nullptr;
    const Vocrel_RNR_Params p = vocrel_test::params_for(rate, 2, 0);
    ASSERT_EQ(Vocrel_RNR_Init(&handle, block.mem, VOCREL_RNR_MEM_SIZE, &p), VOCREL_RNR_OK);
    std::vector<std::int16_t> in(static_cast<std::size_t>(info.inFrameLen), 1000), out(in.size());
    Vocrel_RNR_FrameIo io{};
    io.inCh0 = io.inCh1 = in.data();
    io.outCh0 = out.data();
    io.outCh1 = out.data();
    io.frameLen = info.inFrameLen;
    EXPECT_EQ(Vocrel_RNR_Apply(handle, &io, nullptr), VOCREL_RNR_OK);
  }
}

}  // namespace
