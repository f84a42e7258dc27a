// The frame feed: the automatic threshold and the silence hold around
// Vocrel_RNR_Apply (see vocrel_rnr_feed.h). Public API only.
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

bool saturating_inc(std::uint32_t& n) { return n < UINT32_MAX ? (++n, true) : false; }

bool frame_is_silent(const Vocrel_RNR_FrameIo& io, std::int32_t channels) {
  const auto n = static_cast<std::int32_t>(io.frameLen);
  if (!vocrel::autothr::frame_is_silent(io.inCh0, n)) return false;
  return channels == 1 || vocrel::autothr::frame_is_silent(io.inCh1, n);
}

// Puts the kept instance back, with the tunables the caller has set since.
std::int32_t resume_from_spare(void* handle, const void* spare) {
  Vocrel_RNR_Params now{};
  std::int32_t status = Vocrel_RNR_GetParams(handle, &now);
  if (status != VOCREL_RNR_OK) return status;
  std::memcpy(handle, spare, kRecordBytes);
  return Vocrel_RNR_SetParams(handle, &now);
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

  const bool silent = hold && frame_is_silent(*io, p.channels);
  if (!silent) {
    // After a single silent frame the kept instance is the live one.
    if (feed->holding == 1 && (feed->silentRun > 1 || feed->soundFrames == 0)) {
      status = resume_from_spare(handle, spare);
      if (status != VOCREL_RNR_OK) return status;
      saturating_inc(feed->holds);
    }
    feed->holding = 0;
    feed->silentRun = 0;
  }

  std::int32_t changed = 0;
  if ((feed->flags & VOCREL_RNR_FEED_AUTO_THR) == 0) {
    feed->thrDb = p.levelThrDb;
  } else {
    changed = Vocrel_RNR_AutoThrUpdate(&feed->thr, handle, io, &feed->thrDb);
    if (changed < 0) return changed;
  }
  // The instance to resume from: as initialised while no sound has come yet,
  // else as it stands after the first silent frame.
  const bool keepBefore = silent && feed->holding == 0 && feed->soundFrames == 0;
  if (keepBefore) std::memcpy(spare, handle, kRecordBytes);
  status = Vocrel_RNR_Apply(handle, io, nullptr);
  if (status != VOCREL_RNR_OK) return status;

  if (!silent) {
    saturating_inc(feed->soundFrames);
  } else {
    saturating_inc(feed->silentFrames);
    saturating_inc(feed->silentRun);
    if (feed->holding == 0 && !keepBefore) std::memcpy(spare, handle, kRecordBytes);
    feed->holding = 1;
  }
  if (thrDb != nullptr) *thrDb = feed->thrDb;
  return changed;
}

}  // extern "C"

static_assert(sizeof(Vocrel_RNR_Feed) == 136);
static_assert(offsetof(Vocrel_RNR_Feed, magic) == 104);
