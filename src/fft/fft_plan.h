// Stage plan of the complex FFT: which radix each stage uses, which stages
// halve, where the first stage writes and the rounding shift at the end.
#pragma once

#include <array>
#include <cstdint>

#include "fft/fft_setup.h"

namespace vocrel::fft {

enum class Direction { kForward, kInverse };

struct Stage {
  int radix;     // 2, 4 or 8 (8 only as the first stage)
  bool halving;  // every butterfly addition is (x + y) >> 1
};

struct StagePlan {
  int order = 0;  // log2 N
  int stage_count = 0;
  std::array<Stage, kMaxOrder> stages{};
  int final_shift = 0;  // rounding right shift of every output value, 0..64
  // Stages alternate between dst and the scratch array; the first one writes
  // to dst when the stage count is odd so that the last one lands in dst.
  bool first_to_dst = false;
};

// Plan for 2^order points with the caller's scale (forward: scale >= 0,
// dst = DFT / 2^scale; inverse: scale >= -order, dst = IDFT-sum / 2^(scale +
// order)). The halving budget S is the scale, plus the order for the inverse
// (its 1/N); S past 64 is clamped since it already shifts every value to 0.
// - order 0: a copy, then the rounding shift by S.
// - order 1..3: radix-2 stages; the first min(S, order) halve (the inverse
//   halves them all), then the rounding shift by S - order when positive.
// - S == 0 or S >= order: radix 8 first for odd orders, 4 for even ones, then
//   radix 4; all stages halve when S > 0 (exactly `order` halvings) and the
//   remaining S - order is the final rounding shift.
// - 0 < S < order: S halving radix-2 stages, then the rest unhalved as radix-4
//   stages when an even number of levels is left, radix-2 stages otherwise.
constexpr StagePlan make_plan(int order, std::int32_t scale, Direction dir) {
  StagePlan plan{};
  plan.order = order;
  std::int64_t budget = scale;
  if (dir == Direction::kInverse) budget += order;
  if (budget < 0) budget = 0;
  if (budget > 64) budget = 64;
  const int s = static_cast<int>(budget);
  auto add = [&plan](int radix, bool halving) {
    plan.stages[static_cast<std::size_t>(plan.stage_count++)] = Stage{radix, halving};
  };
  if (order == 0) {
    plan.final_shift = s;
  } else if (order <= 3) {
    const int halving = dir == Direction::kInverse ? order : (s < order ? s : order);
    for (int i = 0; i < order; ++i) add(2, i < halving);
    plan.final_shift = s > order ? s - order : 0;
  } else if (s == 0 || s >= order) {
    const bool halving = s != 0;
    const bool odd = (order & 1) != 0;
    add(odd ? 8 : 4, halving);
    for (int levels = odd ? 3 : 2; levels < order; levels += 2) add(4, halving);
    plan.final_shift = s > order ? s - order : 0;
  } else {
    for (int i = 0; i < s; ++i) add(2, true);
    const int rest = order - s;
    if ((rest & 1) == 0) {
      for (int i = 0; i < rest / 2; ++i) add(4, false);
    } else {
      for (int i = 0; i < rest; ++i) add(2, false);
    }
  }
  plan.first_to_dst = (plan.stage_count & 1) != 0;
  return plan;
}

// Total levels covered by a plan's stages (log2 of the radix product).
constexpr int plan_levels(const StagePlan& plan) {
  int levels = 0;
  for (int i = 0; i < plan.stage_count; ++i) {
    levels += plan.stages[static_cast<std::size_t>(i)].radix == 8   ? 3
              : plan.stages[static_cast<std::size_t>(i)].radix == 4 ? 2
                                                                    : 1;
  }
  return levels;
}

// The worked layouts: 256 points unscaled is four radix-4 stages starting in
// the scratch array; 512 is radix 8 then three radix 4, starting in scratch;
// 1024 is five radix-4 stages starting in dst.
static_assert(make_plan(8, 0, Direction::kForward).stage_count == 4);
static_assert(!make_plan(8, 0, Direction::kForward).first_to_dst);
static_assert(make_plan(9, 0, Direction::kForward).stages[0].radix == 8);
static_assert(make_plan(9, 0, Direction::kForward).stage_count == 4);
static_assert(make_plan(10, 0, Direction::kForward).first_to_dst);
static_assert(make_plan(10, -10, Direction::kInverse).stage_count == 5);
static_assert(!make_plan(10, -10, Direction::kInverse).stages[0].halving);
static_assert(make_plan(10, 0, Direction::kInverse).stages[4].halving);

}  // namespace vocrel::fft
