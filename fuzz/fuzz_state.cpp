// Fuzz target: a valid instance whose block is overwritten at random after a
// few frames (any byte of the instance, not only guard words), then driven on
// with Apply, SetParams, GetParams and the exported stages called directly on
// the path states. Whatever the block holds, the engine
// stays inside the block, the read-only tables and the caller's buffers; a
// call fails exactly when the checked words say so; a failing call changes
// nothing but what a mode-1 frame has already written; a successful
// SetParams is what GetParams returns; a stage that follows the state's FFT
// references writes nothing when the state fails its check.
#include <array>

#include "fnr/fnr.h"
#include "fuzz_util.h"
#include "rnr/rnr.h"
#include "rnr/rnr_state.h"

using namespace fuzz;

namespace {

constexpr int kMaxOps = 64;
constexpr std::uint32_t kGuard = 0x6AAAAAAAu;
constexpr std::size_t kEndGuard = 28252;
constexpr std::size_t kFnrInitCheck = kPathState + 11732;
constexpr std::size_t kRnrEndGuard8k = 5704;   // closing guard of an 8 kHz channel state
constexpr std::size_t kRnrEndGuard16k = 6856;  // of a 16 kHz channel state

std::uint32_t word(const Bytes& b, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}
std::int32_t iword(const Bytes& b, std::size_t off) {
  return static_cast<std::int32_t>(word(b, off));
}

struct Harness {
  FuzzedDataProvider& fdp;
  Block& block;
  std::uint8_t* inst;
  Vocrel_RNR_Params initial;
  std::size_t len;  // frame length the caller uses (the one it initialised)

  void corrupt() {
    const int n = fdp.ConsumeIntegralInRange<int>(1, 8);
    for (int i = 0; i < n; ++i) {
      switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {  // one byte anywhere
          inst[fdp.ConsumeIntegralInRange<std::size_t>(0, kInstanceBytes - 1)] =
              fdp.ConsumeIntegral<std::uint8_t>();
          break;
        }
        case 1: {  // one aligned word with a value loops and shifts care about
          static constexpr std::uint32_t kWords[] = {
              0,      1,      2,      0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x80000001u,
              kGuard, 0xFFFF, 0x8000, 0x7FFF,      31,          32,          33,
              64,     100,    1000,   0x0FFFFFFEu, 0xFFFFFFA0u};
          const std::size_t off =
              4 * fdp.ConsumeIntegralInRange<std::size_t>(0, kInstanceBytes / 4 - 1);
          std::uint32_t v =
              kWords[fdp.ConsumeIntegralInRange<std::size_t>(0, std::size(kWords) - 1)];
          if (fdp.ConsumeBool()) v = fdp.ConsumeIntegral<std::uint32_t>();
          std::memcpy(inst + off, &v, 4);
          break;
        }
        case 2: {  // a 16-bit field
          const std::size_t off =
              2 * fdp.ConsumeIntegralInRange<std::size_t>(0, kInstanceBytes / 2 - 1);
          const auto v = fdp.ConsumeIntegral<std::uint16_t>();
          std::memcpy(inst + off, &v, 2);
          break;
        }
        default: {  // a run of bytes
          const std::size_t off = fdp.ConsumeIntegralInRange<std::size_t>(0, kInstanceBytes - 1);
          const std::size_t n2 = std::min<std::size_t>(
              fdp.ConsumeIntegralInRange<std::size_t>(1, 256), kInstanceBytes - off);
          std::memset(inst + off, fdp.ConsumeIntegral<std::uint8_t>(), n2);
          break;
        }
      }
    }
  }

  // Regions a failing mode-1 frame may already have changed, as [begin, end).
  static void mask_written(Bytes& b, const Bytes& before, int channels) {
    auto restore = [&](std::size_t from, std::size_t to) {
      std::memcpy(b.data() + from, before.data() + from, to - from);
    };
    const std::size_t ch0 = kPathState, ch1 = kPathState + kRnrChanBytes;
    restore(ch0 + kRnrFrameCnt, ch0 + kRnrFrameCnt + 4);
    if (channels == 2) {
      restore(kFftSpecA, kPathState);  // transform scratch of the FFT set-ups
      restore(ch0, ch0 + kRnrChanBytes);
      restore(ch1 + kRnrFrameCnt, ch1 + kRnrFrameCnt + 4);
    }
  }

  void apply() {
    FrameBuffers f(len);
    fill_audio(fdp, f.in0.data(), len);
    fill_audio(fdp, f.in1.data(), len);
    f.fill_outputs(0x5B);
    const bool inPlace = fdp.ConsumeBool();
    Exact<Vocrel_RNR_FrameIo> io;
    *io = {f.in0.data(), f.in1.data(), static_cast<std::uint32_t>(len),
           inPlace ? f.in0.data() : f.out0.data(), inPlace ? f.in1.data() : f.out1.data()};
    Exact<Vocrel_RNR_TraceRec> trace;
    Vocrel_RNR_TraceRec* tr = fdp.ConsumeBool() ? trace.get() : nullptr;
    if (tr) tr->base = fdp.ConsumeIntegral<std::uint32_t>();
    const Vocrel_RNR_TraceRec traceBefore = tr ? *tr : Vocrel_RNR_TraceRec{};

    const Bytes before = snapshot(inst, kInstanceBytes);
    f.remember();
    const std::int32_t rc = Vocrel_RNR_Apply(inst, io.get(), tr);

    // The header words Apply checks decide whether it may run at all.
    const std::int32_t mode = iword(before, 72), channels = iword(before, 68);
    if (word(before, 12) != kMagic) {
      FUZZ_CHECK(rc == VOCREL_RNR_E_MAGIC);
    } else if (word(before, 4) != len) {
      FUZZ_CHECK(rc == VOCREL_RNR_E_FRAME_LEN);
    } else if (word(before, 0) != kGuard || word(before, kEndGuard) != kGuard) {
      FUZZ_CHECK(rc == VOCREL_RNR_E_CORRUPT);
    } else {
      FUZZ_CHECK(rc == 0 || rc == VOCREL_RNR_E_CORRUPT);
    }
    if (rc == 0) {
      // A frame ran: the path's own check words were intact.
      if (mode == 0) {
        FUZZ_CHECK(iword(before, kFnrInitCheck) == 24936);
      } else {
        const std::size_t endGuard = iword(before, 64) == 8000 ? kRnrEndGuard8k : kRnrEndGuard16k;
        for (int c = 0; c < channels; ++c) {
          const std::size_t st = kPathState + static_cast<std::size_t>(c) * kRnrChanBytes;
          FUZZ_CHECK(word(before, st) == kGuard && word(before, st + endGuard) == kGuard);
        }
      }
      FUZZ_CHECK(channels == 1 || channels == 2);
      FUZZ_CHECK(f.only_outputs_written(channels, inPlace, inPlace));
      if (tr) FUZZ_CHECK(tr->base == traceBefore.base);
      return;
    }

    // Failure: nothing changed, except in mode 1 what the channels before the
    // failing one (and the failing channel's counter) have done.
    const bool partial = rc == VOCREL_RNR_E_CORRUPT && mode != 0;
    Bytes after = snapshot(inst, kInstanceBytes);
    if (partial) mask_written(after, before, channels);
    FUZZ_CHECK(after == before);
    if (!(partial && channels == 2)) {
      FUZZ_CHECK(f.untouched());
    } else {  // channel 0 may have been written, in place or not
      FUZZ_CHECK(same(f.in1.data(), f.in1Before) && same(f.out1.data(), f.out1Before));
      if (!inPlace) FUZZ_CHECK(same(f.in0.data(), f.in0Before));
    }
    if (tr && !partial) FUZZ_CHECK(std::memcmp(tr, &traceBefore, sizeof *tr) == 0);
    if (tr) FUZZ_CHECK(tr->base == traceBefore.base);
  }

  void set_params() {
    Exact<Vocrel_RNR_Params> p;
    *p = initial;
    pick_tunables(fdp, *p, fdp.ConsumeBool());
    if (fdp.ConsumeIntegralInRange<int>(0, 7) == 0) {
      pick_stream(fdp, p->sampleRate, p->channels, p->mode, false);
    }
    const Bytes before = snapshot(inst, kInstanceBytes);
    const std::int32_t rc = Vocrel_RNR_SetParams(inst, p.get());
    std::int32_t expect = VOCREL_RNR_OK;
    if (word(before, 12) != kMagic) {
      expect = VOCREL_RNR_E_MAGIC;
    } else if (p->sampleRate != iword(before, 64) || p->channels != iword(before, 68) ||
               p->mode != iword(before, 72)) {
      expect = VOCREL_RNR_E_STREAM_CHANGED;
    } else {
      expect = expected_tunables(*p);
    }
    FUZZ_CHECK(rc == expect);
    if (rc != 0) {
      FUZZ_CHECK(same(inst, before));
      return;
    }
    // Only the header's tunables and the path state may change.
    const Bytes after = snapshot(inst, kInstanceBytes);
    FUZZ_CHECK(std::memcmp(after.data(), before.data(), 16) == 0);
    FUZZ_CHECK(std::memcmp(after.data() + 36, before.data() + 36, kPathState - 36) == 0);
    FUZZ_CHECK(word(after, kEndGuard) == word(before, kEndGuard));
    Exact<Vocrel_RNR_Params> got;
    FUZZ_CHECK(Vocrel_RNR_GetParams(inst, got.get()) == 0);
    FUZZ_CHECK(got->maxNr == p->maxNr && got->hpFilterOn == p->hpFilterOn &&
               got->levelThrDb == p->levelThrDb && got->levelAdaptOff == p->levelAdaptOff &&
               got->vadBandThr == p->vadBandThr);
    FUZZ_CHECK(got->sampleRate == p->sampleRate && got->channels == p->channels &&
               got->mode == p->mode);
  }

  void get_params() {
    Exact<Vocrel_RNR_Params> got;
    std::memset(got.get(), 0xE7, sizeof *got);
    const Bytes before = snapshot(inst, kInstanceBytes);
    const std::int32_t rc = Vocrel_RNR_GetParams(inst, got.get());
    FUZZ_CHECK(same(inst, before));
    FUZZ_CHECK(rc == (word(before, 12) == kMagic ? 0 : VOCREL_RNR_E_MAGIC));
    if (rc == 0) {
      const auto* w = reinterpret_cast<const std::int32_t*>(got.get());
      for (int i = 0; i < 5; ++i) FUZZ_CHECK(w[i] == iword(before, 16 + 4 * i));
      for (int i = 12; i < 15; ++i) FUZZ_CHECK(w[i] == iword(before, 64 + 4 * (i - 12)));
    }
  }

  // One exported stage on a path state, with caller buffers large enough for
  // any rate; inputs come from the fuzzer.
  void stage() {
    constexpr std::size_t kWords = 4096;
    alignas(32) static std::array<std::int32_t, kWords> a, b, c, d;
    alignas(32) static std::array<std::int16_t, kWords> s0, s1, s2;
    Lcg g{fdp.ConsumeIntegral<std::uint32_t>()};
    const int shift = fdp.ConsumeIntegralInRange(0, 31);
    for (auto* buf : {&a, &b, &c, &d}) {
      for (auto& v : *buf) v = static_cast<std::int32_t>(g.next()) >> shift;
    }
    for (auto* buf : {&s0, &s1, &s2}) fill_audio(fdp, buf->data(), kWords);
    const Bytes before = snapshot(inst, kInstanceBytes);
    const Bytes outBefore = snapshot(s1.data(), sizeof s1);
    std::int32_t p0 = 0, p1 = 0;
    const int which = fdp.ConsumeIntegralInRange<int>(0, 15);
    const std::int32_t arg = fdp.ConsumeIntegral<std::int32_t>();
    if (iword(before, 72) == 0) {
      auto* st = reinterpret_cast<FnrState*>(inst + kPathState);
      FnrChanState* ch = &st->chan[fdp.ConsumeBool() ? 1 : 0];
      const bool ok = FnrCheckStage(st, ch) == 0;
      switch (which % 6) {
        case 0: {
          const std::int16_t* in[2] = {s0.data(), s2.data()};
          std::int16_t* out[2] = {s1.data(), s1.data() + 2048};
          VocrelFnrProcess(st, in, out);
          break;
        }
        case 1: {
          std::int16_t level = 0;
          FnrWinFrame(st, ch, s0.data(), s2.data(), a.data(), &p0, &level);
          break;
        }
        case 2:
          FnrFrameCore(st, ch, a.data(), s1.data(), static_cast<std::int16_t>(arg), arg >> 8);
          break;
        case 3:
          FirstFrmVad1(st, ch, a.data());
          FnrFrameVad(st, ch, a.data());
          break;
        case 4:
          Fnr_CalcTempGain2(st, ch, s0.data());
          break;
        default:
          FnrInitBarkNoise(st);
          break;
      }
      if (!ok && (which % 6 == 0 || which % 6 == 2)) {
        FUZZ_CHECK(same(inst, before) && same(s1.data(), outBefore));
      }
      return;
    }
    auto* st = reinterpret_cast<RnrChanState*>(inst + kPathState +
                                               (fdp.ConsumeBool() ? kRnrChanBytes : 0));
    const bool ok = RnrCheckStage(st) == 0;
    switch (which) {
      case 0:
        Vocrel_RNR_Process(st, s0.data(), s1.data(), nullptr);
        break;
      case 1:
        Vocrel_RNR_PreProcess(st, s0.data(), s2.data(), a.data());
        break;
      case 2:
        Vocrel_RNR_CalcSpec_HD(st, a.data(), b.data(), &p0, &p1, c.data(), d.data());
        break;
      case 3:
        Vocrel_RNR_CalcValleySpec(st, a.data(), b.data(), arg, c.data(), arg >> 16, d.data());
        break;
      case 4:
        Vocrel_RNR_VAD1_Frame(st, b.data());
        Vocrel_RNR_VAD2_Frame(st, b.data());
        Vocrel_RNR_VAD3_Frame(st, b.data());
        break;
      case 5:
        Vocrel_RNR_EstimateNoiseLevel(st, arg & 1, (arg >> 1) & 1, a.data(), b.data(), c.data(),
                                      d.data());
        break;
      case 6:
        Vocrel_RNR_Mcra(st, b.data());
        break;
      case 7:
        Vocrel_RNR_McraFreqVad(st, b.data(), s1.data(), arg);
        break;
      case 8:
        Vocrel_RNR_EstimatePriSNR(st, b.data(), s1.data());
        break;
      case 9:
        Vocrel_RNR_CalcGain2(st, s0.data());
        break;
      case 10:
        Vocrel_RNR_SmoothGain(st, s0.data(), s2.data());
        break;
      case 11:
        Vocrel_RNR_InterpolateGain(st);
        break;
      case 12:
        Vocrel_RNR_MemErrDetect(st);
        Vocrel_RNR_InitMemDetect(st);
        break;
      default:
        RnrAdvanceFrame(st);
        break;
    }
    if (!ok && which <= 3 && which != 1) {
      FUZZ_CHECK(same(inst, before) && same(s1.data(), outBefore));
    }
  }

  void reinit() { FUZZ_CHECK(init_instance(block, initial) == inst); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  pick_stream(fdp, p.sampleRate, p.channels, p.mode, true);
  pick_tunables(fdp, p, true);
  Block block(VOCREL_RNR_MEM_SIZE, fdp.ConsumeIntegralInRange<std::size_t>(0, 7),
              fdp.ConsumeIntegral<std::uint8_t>());
  Harness hs{fdp, block, static_cast<std::uint8_t*>(init_instance(block, p)), p,
             frame_len(p.sampleRate)};

  const int warm = fdp.ConsumeIntegralInRange<int>(0, 12);
  for (int i = 0; i < warm; ++i) hs.apply();
  // Overwriting is drawn twice as often as the other calls, Apply five times.
  static constexpr void (Harness::*kOps[])() = {
      &Harness::corrupt, &Harness::corrupt, &Harness::set_params, &Harness::get_params,
      &Harness::reinit,  &Harness::stage,   &Harness::apply,      &Harness::apply,
      &Harness::apply,   &Harness::apply,   &Harness::apply};
  for (int op = 0; op < kMaxOps && fdp.remaining_bytes() > 0; ++op) {
    (hs.*kOps[fdp.ConsumeIntegralInRange<int>(0, 10)])();
  }
  return 0;
}
