// The frame feed: the automatic threshold and the silence hold around
// Vocrel_RNR_Apply (see vocrel_rnr_feed.h). Public API only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "silence.h"
#include "vocrel_rnr_feed.h"

namespace {

constexpr std::int32_t kMagic = 0x46454544;  // "FEED"
constexpr std::uint32_t kKnownFlags = VOCREL_RNR_FEED_AUTO_THR | VOCREL_RNR_FEED_SILENCE_HOLD;

// The instance record: the caller's block from the handle on, less the
// slack the engine keeps for rounding the block's address up to 8. Copying
// these bytes back to the same address restores the instance exactly.
constexpr std::size_t kRecordBytes = VOCREL_RNR_MEM_SIZE - 8;
static_assert(kRecordBytes <= VOCREL_RNR_FEED_SPARE_SIZE);
constexpr std::size_t kMaxFrameLen = 480;  // samples per channel at 48 kHz

bool saturating_inc(std::uint32_t& n) { return n < UINT32_MAX ? (++n, true) : false; }

enum class FrameKind { Sound, Gap, Silent };

// Silent: every channel at or below -90 dBFS. Gap: every channel silent or
// holding a dropout (where silence starts or ends inside the frame, or a
// converter's ringing fades into it). Both carry no noise worth learning.
FrameKind frame_kind(const Vocrel_RNR_FrameIo& io, std::int32_t channels) {
  using namespace vocrel::autothr;
  const auto n = static_cast<std::int32_t>(io.frameLen);
  const std::int16_t* in[2] = {io.inCh0, io.inCh1};
  bool silent = true;
  for (std::int32_t c = 0; c < channels; ++c) {
    if (frame_is_silent(in[c], n)) continue;
    if (!frame_is_gap(in[c], n)) return FrameKind::Sound;
    silent = false;
  }
  return silent ? FrameKind::Silent : FrameKind::Gap;
}

// One frame of zeros through the engine, its output dropped: the restored
// instance then holds a silent previous frame, as the live one did, so the
// output resumes from silence instead of replaying the frame before the gap.
std::int32_t prime_with_silence(void* handle, std::int32_t channels, std::uint32_t frameLen) {
  static constexpr std::array<std::int16_t, kMaxFrameLen> kZeros{};
  std::array<std::array<std::int16_t, kMaxFrameLen>, 2> dropped;
  Vocrel_RNR_FrameIo io = {kZeros.data(), channels == 2 ? kZeros.data() : nullptr, frameLen,
                           dropped[0].data(), channels == 2 ? dropped[1].data() : nullptr};
  return Vocrel_RNR_Apply(handle, &io, nullptr);
}

// Puts the kept instance back, with the tunables the caller has set since;
// an instance kept after sound had come is primed with a silent frame.
std::int32_t resume_from_spare(void* handle, const void* spare, bool afterSound) {
  Vocrel_RNR_Params now{};
  std::int32_t status = Vocrel_RNR_GetParams(handle, &now);
  if (status != VOCREL_RNR_OK) return status;
  std::memcpy(handle, spare, kRecordBytes);
  status = Vocrel_RNR_SetParams(handle, &now);
  if (status != VOCREL_RNR_OK || !afterSound) return status;
  return prime_with_silence(handle, now.channels, static_cast<std::uint32_t>(now.sampleRate / 100));
}

bool state_ok(const Vocrel_RNR_Feed& f) {
  return f.magic == kMagic && (f.flags & ~kKnownFlags) == 0 && (f.holding == 0 || f.holding == 1);
}

}  // namespace

extern "C" {

std::int32_t Vocrel_RNR_FeedInit(Vocrel_RNR_Feed* feed, void* handle, std::uint32_t flags) {
  if (feed == nullptr || handle == nullptr) return VOCREL_RNR_AUTOTHR_E_NULL;
  if ((flags & ~kKnownFlags) != 0) return VOCREL_RNR_FEED_E_STATE;
  Vocrel_RNR_Params p{};
  std::int32_t status = Vocrel_RNR_GetParams(handle, &p);
  if (status != VOCREL_RNR_OK) return status;
  Vocrel_RNR_Feed f{};
  if (p.mode != 0) flags &= ~VOCREL_RNR_FEED_AUTO_THR;  // mode 1 has no level threshold
  if ((flags & VOCREL_RNR_FEED_AUTO_THR) != 0) {
    status = Vocrel_RNR_AutoThrInit(&f.thr, p.sampleRate, p.channels, p.levelThrDb);
    if (status != VOCREL_RNR_OK) return status;
  }
  f.magic = kMagic;
  f.flags = flags;
  f.thrDb = p.levelThrDb;
  *feed = f;
  return VOCREL_RNR_OK;
}

std::int32_t Vocrel_RNR_FeedFrame(Vocrel_RNR_Feed* feed, void* handle, void* spare,
                                  const Vocrel_RNR_FrameIo* io, std::int32_t* thrDb) {
  if (feed == nullptr || handle == nullptr || io == nullptr) return VOCREL_RNR_AUTOTHR_E_NULL;
  if (!state_ok(*feed)) return VOCREL_RNR_FEED_E_STATE;
  const bool hold = (feed->flags & VOCREL_RNR_FEED_SILENCE_HOLD) != 0;
  if (hold && spare == nullptr) return VOCREL_RNR_FEED_E_SPARE;

  // The descriptor is checked as Apply checks it before anything is read.
  Vocrel_RNR_Params p{};
  std::int32_t status = Vocrel_RNR_GetParams(handle, &p);
  if (status != VOCREL_RNR_OK) return status;
  if (io->frameLen != static_cast<std::uint32_t>(p.sampleRate / 100)) return VOCREL_RNR_E_FRAME_LEN;
  if (io->inCh0 == nullptr || (p.channels == 2 && io->inCh1 == nullptr))
    return VOCREL_RNR_E_NULL_INPUT;

  const FrameKind kind = hold ? frame_kind(*io, p.channels) : FrameKind::Sound;
  if (kind == FrameKind::Sound && feed->holding == 1) {
    // A gap with digital silence in it is over: back to the instance kept
    // before it. A gap without (a dropout within a frame) taught the engine
    // little, and the live instance goes on.
    if (feed->silentRun > 0) {
      status = resume_from_spare(handle, spare, feed->soundFrames > 0);
      if (status != VOCREL_RNR_OK) return status;
      saturating_inc(feed->holds);
    }
    feed->holding = 0;
    feed->silentRun = 0;
  }
  if (kind != FrameKind::Sound && feed->holding == 0) {
    std::memcpy(spare, handle, kRecordBytes);  // the instance before the gap
    feed->holding = 1;
  }

  std::int32_t changed = 0;
  if ((feed->flags & VOCREL_RNR_FEED_AUTO_THR) == 0) {
    feed->thrDb = p.levelThrDb;
  } else {
    changed = Vocrel_RNR_AutoThrUpdate(&feed->thr, handle, io, &feed->thrDb);
    if (changed < 0) return changed;
  }
  status = Vocrel_RNR_Apply(handle, io, nullptr);
  if (status != VOCREL_RNR_OK) return status;

  if (kind == FrameKind::Sound) saturating_inc(feed->soundFrames);
  if (kind == FrameKind::Silent) {
    saturating_inc(feed->silentFrames);
    saturating_inc(feed->silentRun);
  }
  if (thrDb != nullptr) *thrDb = feed->thrDb;
  return changed;
}

}  // extern "C"

static_assert(sizeof(Vocrel_RNR_Feed) == 136);
static_assert(offsetof(Vocrel_RNR_Feed, magic) == 104);
