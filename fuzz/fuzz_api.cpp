// Fuzz target: the public API driven by a call sequence decoded from the
// input (GetSize, Init, Apply, SetParams, GetParams, GetVersion). Every status
// is compared with the documented checks; a failing call must leave the
// instance, the caller's records and every output byte as they were. A twin
// instance, initialised in a block of other contents and alignment and fed
// the same frames through separate buffers, must produce identical output:
// no byte that Init did not write is ever read, and in-place operation is
// exact.
#include <memory>

#include "fuzz_util.h"

using namespace fuzz;

namespace {

constexpr int kMaxOps = 96;

struct Instance {
  std::unique_ptr<Block> block;
  void* handle = nullptr;
  bool live = false;
  Vocrel_RNR_Params params{};  // stream fields and last accepted tunables
  bool silentSinceInit = true;
};

// Not an instance: magic word absent.
struct Foreign {
  Foreign() { std::memset(words.get(), 0x3C, kInstanceBytes); }
  Exact<std::uint8_t> words{kInstanceBytes};
};

struct Harness {
  explicit Harness(FuzzedDataProvider& f) : fdp(f) {}
  FuzzedDataProvider& fdp;
  Instance main, twin;
  Foreign foreign;

  // Which handle a call gets: the live one, null, or a block without magic.
  enum class Which { kLive, kNull, kForeign };
  Which pick_handle() {
    const int r = fdp.ConsumeIntegralInRange<int>(0, 15);
    if (r == 0) return Which::kNull;
    if (r == 1 || !main.live) return Which::kForeign;
    return Which::kLive;
  }
  void* handle_of(Which w, const Instance& inst) const {
    return w == Which::kNull ? nullptr : w == Which::kForeign ? foreign.words.get() : inst.handle;
  }
  static std::int32_t handle_status(Which w) {
    return w == Which::kNull      ? VOCREL_RNR_E_NULL_HANDLE
           : w == Which::kForeign ? VOCREL_RNR_E_MAGIC
                                  : VOCREL_RNR_OK;
  }
  // GetParams and SetParams report a null record before reading the magic word.
  static std::int32_t record_status(Which w, bool nullRec) {
    if (w == Which::kNull) return VOCREL_RNR_E_NULL_HANDLE;
    if (nullRec) return VOCREL_RNR_E_NULL_PARAMS;
    return handle_status(w);
  }
  Bytes instance_bytes(const Instance& inst) const {
    return inst.live ? snapshot(inst.handle, kInstanceBytes) : Bytes{};
  }

  void get_size() {
    Exact<Vocrel_RNR_MemInfo> info;
    Exact<Vocrel_RNR_StreamCfg> stream;
    std::memset(info.get(), 0xC3, sizeof *info);
    pick_stream(fdp, stream->sampleRate, stream->channels, stream->mode, false);
    const bool nullInfo = fdp.ConsumeIntegralInRange<int>(0, 15) == 0;
    const bool nullStream = fdp.ConsumeIntegralInRange<int>(0, 15) == 0;
    std::int32_t expect = nullInfo ? VOCREL_RNR_E_NULL_MEMINFO
                          : nullStream
                              ? VOCREL_RNR_E_NULL_STREAM
                              : expected_stream(stream->sampleRate, stream->channels, stream->mode);
    const Bytes before = snapshot(info.get(), sizeof *info);
    const std::int32_t rc =
        Vocrel_RNR_GetSize(nullInfo ? nullptr : info.get(), nullStream ? nullptr : stream.get());
    FUZZ_CHECK(rc == expect);
    if (rc != 0) {
      FUZZ_CHECK(same(info.get(), before));
    } else {
      FUZZ_CHECK(info->memSize == VOCREL_RNR_MEM_SIZE);
      FUZZ_CHECK(info->inFrameLen == frame_len(stream->sampleRate));
      FUZZ_CHECK(info->outFrameLen == info->inFrameLen);
    }
  }

  void init() {
    Exact<Vocrel_RNR_Params> p;
    pick_stream(fdp, p->sampleRate, p->channels, p->mode, fdp.ConsumeBool());
    pick_tunables(fdp, *p, fdp.ConsumeBool());
    const bool reuse = main.block && fdp.ConsumeBool();
    // The size announced: one byte short, anything, a little more, or exact.
    const int size = fdp.ConsumeIntegralInRange<int>(0, 5);
    std::uint32_t claimed =
        size == 0   ? VOCREL_RNR_MEM_SIZE - 1
        : size == 1 ? fdp.ConsumeIntegral<std::uint32_t>()
        : size == 2 ? VOCREL_RNR_MEM_SIZE + fdp.ConsumeIntegralInRange<std::uint32_t>(1, 64)
                    : VOCREL_RNR_MEM_SIZE;
    const std::size_t misalign = fdp.ConsumeIntegralInRange<std::size_t>(0, 7);
    const auto fill = fdp.ConsumeIntegral<std::uint8_t>();
    std::unique_ptr<Block> fresh, freshTwin;
    Block* block = main.block.get();
    if (!reuse) {
      fresh = std::make_unique<Block>(claimed, misalign, fill);
      freshTwin = std::make_unique<Block>(claimed, misalign + 3, static_cast<std::uint8_t>(~fill));
      block = fresh.get();
    } else {
      claimed = block->claimed();
    }
    const int nulls = fdp.ConsumeIntegralInRange<int>(0, 31);
    const bool nullHandlePtr = nulls == 1, nullMem = nulls == 2, nullParams = nulls == 3;

    std::int32_t expect = [&] {
      if (nullHandlePtr) return VOCREL_RNR_E_NULL_HANDLE;
      if (nullMem) return VOCREL_RNR_E_NULL_MEM;
      if (nullParams) return VOCREL_RNR_E_NULL_PARAMS;
      if (const auto s = expected_stream(p->sampleRate, p->channels, p->mode)) return s;
      if (const auto t = expected_tunables(*p)) return t;
      return claimed < VOCREL_RNR_MEM_SIZE ? VOCREL_RNR_E_MEM_SIZE : VOCREL_RNR_OK;
    }();

    void* const sentinel = &expect;
    void* h = sentinel;
    const Bytes paramsBefore = snapshot(p.get(), sizeof *p);
    const Bytes instBefore =
        block->instance() ? snapshot(block->instance(), kInstanceBytes) : Bytes{};
    const std::int32_t rc =
        Vocrel_RNR_Init(nullHandlePtr ? nullptr : &h, nullMem ? nullptr : block->mem(), claimed,
                        nullParams ? nullptr : p.get());
    FUZZ_CHECK(rc == expect);
    FUZZ_CHECK(same(p.get(), paramsBefore));
    if (rc != 0) {
      FUZZ_CHECK(h == sentinel);
      if (block->instance()) FUZZ_CHECK(same(block->instance(), instBefore));
      return;  // a fresh block is dropped; the previous instance stays usable
    }
    FUZZ_CHECK(h == block->instance());
    if (!reuse) {
      main.block = std::move(fresh);
      twin.block = std::move(freshTwin);
    }
    void* th = init_instance(*twin.block, *p);
    for (Instance* inst : {&main, &twin}) {
      inst->live = true;
      inst->params = *p;
      inst->silentSinceInit = true;
    }
    main.handle = h;
    twin.handle = th;
  }

  void apply() {
    const Which which = pick_handle();
    const Vocrel_RNR_Params& ps = main.params;
    const std::size_t len = main.live ? frame_len(ps.sampleRate) : 480;
    const int channels = main.live ? ps.channels : 1;
    FrameBuffers f(len);
    fill_audio(fdp, f.in0.data(), len);
    fill_audio(fdp, f.in1.data(), len);
    f.fill_outputs(fdp.ConsumeIntegral<std::uint8_t>());

    // Aliasing: an output may be its own input; both channels may read one
    // buffer (then no output aliases an input).
    const int alias = fdp.ConsumeIntegralInRange<int>(0, 4);
    const bool shareIn = alias == 3;
    const bool inPlace0 = alias == 1 || alias == 4, inPlace1 = alias == 2 || alias == 4;
    Exact<Vocrel_RNR_FrameIo> io;
    io->inCh0 = f.in0.data();
    io->inCh1 = shareIn ? f.in0.data() : f.in1.data();
    io->outCh0 = inPlace0 ? f.in0.data() : f.out0.data();
    io->outCh1 = inPlace1 ? f.in1.data() : f.out1.data();
    io->frameLen = static_cast<std::uint32_t>(len);
    const int nulls = fdp.ConsumeIntegralInRange<int>(0, 15);
    if (nulls == 1) io->inCh0 = nullptr;
    if (nulls == 2) io->outCh0 = nullptr;
    if (nulls == 3) io->inCh1 = nullptr;
    if (nulls == 4) io->outCh1 = nullptr;
    if (nulls == 5) {
      io->inCh1 = nullptr;
      io->outCh0 = nullptr;
    }
    if (fdp.ConsumeIntegralInRange<int>(0, 15) == 0) {
      static constexpr std::uint32_t kLens[] = {0, 80, 160, 480, 479, 0xFFFFFFFFu};
      io->frameLen = kLens[fdp.ConsumeIntegralInRange<int>(0, 5)];
      if (fdp.ConsumeBool()) io->frameLen = fdp.ConsumeIntegral<std::uint32_t>();
    }
    const bool nullIo = fdp.ConsumeIntegralInRange<int>(0, 31) == 0;
    Exact<Vocrel_RNR_TraceRec> trace;
    Vocrel_RNR_TraceRec* tr = fdp.ConsumeBool() ? trace.get() : nullptr;
    if (tr) std::memset(tr, fdp.ConsumeIntegral<std::uint8_t>(), sizeof *tr);

    std::int32_t expect = handle_status(which);
    if (expect == 0) {
      if (nullIo) {
        expect = VOCREL_RNR_E_NULL_FRAME;
      } else {
        const std::int16_t* ins[2] = {io->inCh0, io->inCh1};
        std::int16_t* outs[2] = {io->outCh0, io->outCh1};
        for (int c = 0; c < channels && expect == 0; ++c) {
          if (ins[c] == nullptr)
            expect = VOCREL_RNR_E_NULL_INPUT;
          else if (outs[c] == nullptr)
            expect = VOCREL_RNR_E_NULL_OUTPUT;
        }
        if (expect == 0 && io->frameLen != len) expect = VOCREL_RNR_E_FRAME_LEN;
      }
    }

    const Bytes instBefore = instance_bytes(main);
    f.remember();
    const Bytes traceBefore = tr ? snapshot(tr, sizeof *tr) : Bytes{};
    const std::uint32_t base = tr ? tr->base : 0;
    const std::int32_t rc =
        Vocrel_RNR_Apply(handle_of(which, main), nullIo ? nullptr : io.get(), tr);
    FUZZ_CHECK(rc == expect);
    if (rc != 0) {
      FUZZ_CHECK(same(main.handle, instBefore) && f.untouched());
      if (tr) FUZZ_CHECK(same(tr, traceBefore));
      return;
    }
    FUZZ_CHECK(f.only_outputs_written(channels, inPlace0, inPlace1));
    if (tr) {
      FUZZ_CHECK(tr->base == base);
      FUZZ_CHECK(tr->count == (ps.mode == 1 ? 13u * static_cast<std::uint32_t>(channels) : 2u));
    }
    const std::int16_t* got[2] = {io->outCh0, io->outCh1};

    // Silence in gives silence out from the first frame on.
    bool silentIn = true;
    for (int c = 0; c < channels; ++c) {
      const Bytes& b = c == 0 || shareIn ? f.in0Before : f.in1Before;
      for (std::uint8_t v : b) silentIn = silentIn && v == 0;
    }
    if (main.silentSinceInit && silentIn) {
      for (int c = 0; c < channels; ++c) {
        for (std::size_t i = 0; i < len; ++i) FUZZ_CHECK(got[c][i] == 0);
      }
    }
    main.silentSinceInit = main.silentSinceInit && silentIn;

    // The twin: separate buffers, no trace, other block contents.
    Samples t0(len), t1(len), u0(len), u1(len);
    std::memcpy(t0.data(), f.in0Before.data(), 2 * len);
    std::memcpy(t1.data(), shareIn ? f.in0Before.data() : f.in1Before.data(), 2 * len);
    Vocrel_RNR_FrameIo tio{t0.data(), t1.data(), static_cast<std::uint32_t>(len), u0.data(),
                           u1.data()};
    FUZZ_CHECK(Vocrel_RNR_Apply(twin.handle, &tio, nullptr) == 0);
    FUZZ_CHECK(std::memcmp(got[0], u0.data(), 2 * len) == 0);
    if (channels == 2) FUZZ_CHECK(std::memcmp(got[1], u1.data(), 2 * len) == 0);
  }

  void set_params() {
    const Which which = pick_handle();
    Exact<Vocrel_RNR_Params> p;
    *p = main.params;
    pick_tunables(fdp, *p, fdp.ConsumeBool());
    // Now and then a stream field differs from the instance's.
    const int changed = fdp.ConsumeIntegralInRange<int>(0, 7);
    if (changed == 0) p->sampleRate = p->sampleRate == 16000 ? 8000 : 16000;
    if (changed == 1) p->channels = 3 - p->channels;
    if (changed == 2) p->mode = fdp.ConsumeIntegral<std::int32_t>();
    const bool nullRec = fdp.ConsumeIntegralInRange<int>(0, 15) == 0;
    std::int32_t expect = record_status(which, nullRec);
    if (expect == 0 && (p->sampleRate != main.params.sampleRate ||
                        p->channels != main.params.channels || p->mode != main.params.mode)) {
      expect = VOCREL_RNR_E_STREAM_CHANGED;
    }
    if (expect == 0) expect = expected_tunables(*p);
    const Bytes instBefore = instance_bytes(main);
    const Bytes recBefore = snapshot(p.get(), sizeof *p);
    const std::int32_t rc =
        Vocrel_RNR_SetParams(handle_of(which, main), nullRec ? nullptr : p.get());
    FUZZ_CHECK(rc == expect);
    FUZZ_CHECK(same(p.get(), recBefore));
    if (rc != 0) {
      FUZZ_CHECK(same(main.handle, instBefore));
      return;
    }
    FUZZ_CHECK(Vocrel_RNR_SetParams(twin.handle, p.get()) == 0);
    for (Instance* inst : {&main, &twin}) {
      inst->params.maxNr = p->maxNr;
      inst->params.hpFilterOn = p->hpFilterOn;
      inst->params.levelThrDb = p->levelThrDb;
      inst->params.levelAdaptOff = p->levelAdaptOff;
      inst->params.vadBandThr = p->vadBandThr;
    }
  }

  void get_params() {
    const Which which = pick_handle();
    Exact<Vocrel_RNR_Params> p;
    const auto marker = fdp.ConsumeIntegral<std::uint8_t>();
    std::memset(p.get(), marker, sizeof *p);
    const bool nullRec = fdp.ConsumeIntegralInRange<int>(0, 15) == 0;
    const std::int32_t expect = record_status(which, nullRec);
    const Bytes instBefore = instance_bytes(main);
    const Bytes recBefore = snapshot(p.get(), sizeof *p);
    const std::int32_t rc =
        Vocrel_RNR_GetParams(handle_of(which, main), nullRec ? nullptr : p.get());
    FUZZ_CHECK(rc == expect);
    FUZZ_CHECK(same(main.handle, instBefore));
    if (rc != 0) {
      FUZZ_CHECK(same(p.get(), recBefore));
      return;
    }
    const auto* got = reinterpret_cast<const std::int32_t*>(p.get());
    const auto* want = reinterpret_cast<const std::int32_t*>(&main.params);
    for (int w = 0; w < 24; ++w) {
      const bool returned = w <= 4 || (w >= 12 && w <= 14);
      if (returned) {
        FUZZ_CHECK(got[w] == want[w]);
      } else {
        FUZZ_CHECK(std::memcmp(&got[w], &recBefore[4 * w], 4) == 0);
      }
    }
  }

  void get_version() {
    const bool nullOut = fdp.ConsumeBool();
    Exact<const Vocrel_RNR_Version*> out;
    *out = nullptr;
    const std::int32_t rc = Vocrel_RNR_GetVersion(nullOut ? nullptr : out.get());
    FUZZ_CHECK(rc == (nullOut ? VOCREL_RNR_E_NULL_VERSION : 0));
    if (nullOut) return;
    const Vocrel_RNR_Version* v = *out;
    FUZZ_CHECK(v != nullptr);
    FUZZ_CHECK(std::memchr(v->toolTag, 0, 64) && std::memchr(v->verText, 0, 64) &&
               std::memchr(v->buildTime, 0, 64));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  Harness h(fdp);
  // Apply is drawn half of the time.
  static constexpr void (Harness::*kOps[])() = {
      &Harness::get_size,    &Harness::init,  &Harness::set_params, &Harness::get_params,
      &Harness::get_version, &Harness::apply, &Harness::apply,      &Harness::apply,
      &Harness::apply,       &Harness::apply};
  for (int op = 0; op < kMaxOps && fdp.remaining_bytes() > 0; ++op) {
    (h.*kOps[fdp.ConsumeIntegralInRange<int>(0, 9)])();
  }
  return 0;
}
