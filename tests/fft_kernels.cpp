// Every SIMD stage kernel built for this target writes the same words as its
// portable twin: seeded random words over the whole 32-bit range mixed with
// INT32_MIN / INT32_MAX and the halving corners (odd values, -1, 1), with the
// real twiddle table and with arbitrary tables (whose 64-bit sums wrap), for
// every stage shape of 8 to 1024 points, both directions, halving or not,
// and buffers one word off their natural alignment. Shapes the lanes do not
// fit (fewer than four groups) take the portable twin inside the kernel.
// The compact stages (one size-built loop for every form) write the same
// words as the specialised templates for every radix, position, direction
// and halving. (The portable table, a mix of the two, is pinned slot by slot
// by the SIMD twins of the x86-64 build.)
#include "fft/fft_kernels.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/cpu_features.h"
#include "fft/fft_setup.h"
#include "fft/stage_compact.h"
#include "fft/stage_kernels.h"
#include "fft/vocrel_fft.h"
#include "test_util.h"

namespace {

using vocrel::fft::StageFn;
using vocrel::fft::StageKernels;
using Words = std::vector<int32_t>;

struct Variant {
  const char* name;
  const StageKernels* table;
};

std::vector<Variant> built_variants() {
  std::vector<Variant> v;
  if (const StageKernels* t = vocrel::fft::stage_kernels_neon()) v.push_back({"neon", t});
#if defined(__x86_64__)
  if (const StageKernels* t = vocrel::fft::stage_kernels_sse41();
      t != nullptr && vocrel::has_sse41()) {
    v.push_back({"sse41", t});
  }
  if (const StageKernels* t = vocrel::fft::stage_kernels_avx2();
      t != nullptr && vocrel::has_avx2()) {
    v.insert(v.begin(), {"avx2", t});
  }
#endif
  return v;
}

int32_t edge_word(vocrel_test::Lcg32& rng) {
  static constexpr int32_t kEdges[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, -1, 0, 1, 3, -3};
  const uint32_t r = rng.next();
  if ((r >> 28) < 4) return kEdges[(r >> 8) % 8];
  return static_cast<int32_t>(rng.next());
}

Words random_words(std::size_t count, uint32_t seed) {
  vocrel_test::Lcg32 rng{seed};
  Words w(count);
  for (auto& x : w) x = edge_word(rng);
  return w;
}

// The set-up's twiddle words for n points (3n/4 pairs).
Words real_twiddles(int order) {
  int32_t size = 0;
  Vocrel_FFTGetBufSize_C_SC32(order, &size);
  std::vector<std::uint64_t> mem(static_cast<std::size_t>(size) / 8 + 1);
  auto* spec = reinterpret_cast<Vocrel_FFTSpec_C_SC32*>(mem.data());
  Vocrel_FFTInit_C_SC32(spec, order);
  const int n = 1 << order;
  const int32_t* tw = vocrel::fft::setup_arrays(spec, n).twiddle;
  return Words(tw, tw + 2 * (3 * n / 4));
}

// Runs fn and its twin over the same inputs one word past an aligned start;
// compares all output words, or with a kept count only the real parts of
// outputs 0..kept-1.
void expect_same(StageFn simd, StageFn twin, const Words& in, const Words& tw, int n, int arg,
                 bool head, const std::string& what) {
  Words src(in.size() + 1), a(in.size() + 1, 0x5A5A5A5A), b = a;
  std::copy(in.begin(), in.end(), src.begin() + 1);
  simd(src.data() + 1, a.data() + 1, tw.data(), n, arg);
  twin(src.data() + 1, b.data() + 1, tw.data(), n, arg);
  const int pairs = head ? arg : n;
  for (int i = 0; i < pairs; ++i) {
    for (int part = 0; part < (head ? 1 : 2); ++part) {
      const auto at = static_cast<std::size_t>(1 + 2 * i + part);
      ASSERT_EQ(a[at], b[at]) << what << " pair " << i << " part " << part;
    }
  }
}

class FftKernels : public ::testing::TestWithParam<Variant> {};

// The form the compact adapters below run (StageFn has no room for it).
vocrel::fft::StageForm& current_form() {
  static vocrel::fft::StageForm form{};
  return form;
}

TEST_P(FftKernels, EqualThePortableTwins) {
  const StageKernels& simd = *GetParam().table;
  const StageKernels& twin = *vocrel::fft::stage_kernels_c();
  for (int order = 3; order <= 10; ++order) {
    const int n = 1 << order;
    const Words in = random_words(static_cast<std::size_t>(2 * n), static_cast<uint32_t>(order));
    Words wild = random_words(static_cast<std::size_t>(2 * (3 * n / 4)), 99u + order);
    wild[0] = INT32_MIN;  // T[0] = -1: sub-transform 0 negates instead
    wild[1] = 0;
    for (const Words& tw : {real_twiddles(order), wild}) {
      for (int inv = 0; inv < 2; ++inv) {
        for (int h = 0; h < 2; ++h) {
          const std::string what = std::string(GetParam().name) + " n " + std::to_string(n) +
                                   (inv ? " inverse" : " forward") + (h ? " halving" : "") +
                                   (&tw == &wild ? " wild twiddles" : "");
          expect_same(simd.radix4_first[inv][h], twin.radix4_first[inv][h], in, tw, n, 1, false,
                      what + " first");
          expect_same(simd.radix8_first[inv][h], twin.radix8_first[inv][h], in, tw, n, 1, false,
                      what + " radix-8 first");
          for (int len = 2; 4 * len <= n; len *= 2) {
            expect_same(simd.radix4[inv][h], twin.radix4[inv][h], in, tw, n, len, false,
                        what + " len " + std::to_string(len));
          }
          for (const int kept : {0, 1, 5, n / 4 - 1, n / 2 + 3, n}) {
            if (kept > n) continue;
            expect_same(simd.radix4_head[inv][h], twin.radix4_head[inv][h], in, tw, n, kept, true,
                        what + " kept " + std::to_string(kept));
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Built, FftKernels, ::testing::ValuesIn(built_variants()),
                         [](const auto& info) { return std::string(info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FftKernels);

using vocrel::fft::Direction;
using vocrel::fft::StageForm;

// Every form as the specialised template (built here) and as StageForm.
struct Form {
  StageForm form;
  StageFn specialised;
};

template <int R, bool First>
void add_forms(std::vector<Form>& forms) {
  constexpr auto kF = Direction::kForward;
  constexpr auto kI = Direction::kInverse;
  forms.push_back({{R, First, false, false}, &vocrel::fft::run_stage<R, First, kF, false>});
  forms.push_back({{R, First, false, true}, &vocrel::fft::run_stage<R, First, kF, true>});
  forms.push_back({{R, First, true, false}, &vocrel::fft::run_stage<R, First, kI, false>});
  forms.push_back({{R, First, true, true}, &vocrel::fft::run_stage<R, First, kI, true>});
}

template <int R>
void add_head_forms(std::vector<Form>& forms) {
  constexpr auto kF = Direction::kForward;
  constexpr auto kI = Direction::kInverse;
  forms.push_back({{R, false, false, false}, &vocrel::fft::run_last_stage_real<R, kF, false>});
  forms.push_back({{R, false, false, true}, &vocrel::fft::run_last_stage_real<R, kF, true>});
  forms.push_back({{R, false, true, false}, &vocrel::fft::run_last_stage_real<R, kI, false>});
  forms.push_back({{R, false, true, true}, &vocrel::fft::run_last_stage_real<R, kI, true>});
}

std::string form_name(const StageForm& f) {
  return "radix " + std::to_string(f.radix) + (f.first ? " first" : " later") +
         (f.inverse ? " inverse" : " forward") + (f.halving ? " halving" : "");
}

TEST(FftCompactStages, EqualTheSpecialisedTemplates) {
  std::vector<Form> stages;
  add_forms<2, true>(stages);
  add_forms<2, false>(stages);
  add_forms<4, true>(stages);
  add_forms<4, false>(stages);
  add_forms<8, true>(stages);
  std::vector<Form> heads;
  add_head_forms<2>(heads);
  add_head_forms<4>(heads);
  for (int order = 1; order <= 9; ++order) {
    const int n = 1 << order;
    const Words in = random_words(static_cast<std::size_t>(2 * n), 500u + order);
    Words wild = random_words(static_cast<std::size_t>(2 * (3 * n / 4) + 2), 700u + order);
    for (const Words& tw : {real_twiddles(order), wild}) {
      const std::string where = " n " + std::to_string(n) + (&tw == &wild ? " wild" : "");
      for (const Form& f : stages) {
        if (f.form.radix > n) continue;
        const StageForm form = f.form;
        for (int len = 1; f.form.radix * len <= n; len *= 2) {
          if (form.first && len > 1) break;
          const StageFn compact = [](const int32_t* i, int32_t* o, const int32_t* t, int32_t nn,
                                     int32_t l) {
            vocrel::fft::run_stage_compact(i, o, t, nn, l, current_form());
          };
          current_form() = form;
          expect_same(compact, f.specialised, in, tw, n, len, false,
                      form_name(form) + where + " len " + std::to_string(len));
        }
      }
      for (const Form& f : heads) {
        if (f.form.radix > n) continue;
        for (const int kept : {0, 1, n / 2 + 1, n - 1, n}) {
          current_form() = f.form;
          const StageFn compact = [](const int32_t* i, int32_t* o, const int32_t* t, int32_t nn,
                                     int32_t k) {
            vocrel::fft::run_head_compact(i, o, t, nn, k, current_form());
          };
          expect_same(compact, f.specialised, in, tw, n, kept, true,
                      form_name(f.form) + where + " kept " + std::to_string(kept));
        }
      }
    }
  }
}

// The engine runs the SIMD table when the build has one for this machine.
TEST(FftKernelChoice, SimdBuildsRunTheirTable) {
  const auto variants = built_variants();
  const StageKernels* chosen = &vocrel::fft::stage_kernels();
  if (variants.empty()) {
    EXPECT_EQ(chosen, vocrel::fft::stage_kernels_c());
  } else {
    EXPECT_EQ(chosen, variants.front().table);
  }
}

}  // namespace
