// The frame feed: the automatic threshold and the silence hold around
// Vocrel_RNR_Apply (see vocrel_rnr_feed.h). Public API only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tracker.h"
#include "vocrel_rnr_feed.h"

namespace {

constexpr std::int32_t kMagic = 0x46454544;  // "FEED"
constexpr std::uint32_t kKnownFlags = VOCREL_RNR_FEED_AUTO_THR | VOCREL_RNR_FEED_SILENCE_HOLD;

// The instance record: the caller's block from the handle on, less the
// slack the engine keeps for rounding the block's address up to 8. Copying
// these bytes back to the same address restores the instance exactly.
constexpr std::size_t kRecordBytes = VOCREL_RNR_MEM_SIZE - 8;
constexpr std::size_t kMaxFrameLen = 480;  // samples per channel at 48 kHz
// After the instance the spare block keeps the last frame of a gap, both
// channels' samples one after the other.
constexpr std::size_t kGapFrameBytes = 2 * kMaxFrameLen * sizeof(std::int16_t);
static_assert(kRecordBytes + kGapFrameBytes == VOCREL_RNR_FEED_SPARE_SIZE);

// What `holding` says: no gap; within a gap whose last frame was silent;
// within a gap whose last frame was a gap frame, kept in the spare block.
constexpr std::int32_t kNotHolding = 0;
constexpr std::int32_t kHoldingSilent = 1;
constexpr std::int32_t kHoldingGapFrame = 2;

// Frames stuck at one level in a row that make a stuck block, which the hold
// keeps from the learnt noise like digital silence: 50 ms. A low sound
// clipped at full scale (a plosive overloading the microphone) holds flat
// stretches of a few frames, which must not restart the engine mid-sound.
constexpr std::uint32_t kStuckBlockFrames = 5;

void saturating_inc(std::uint32_t& n) {
  if (n < UINT32_MAX) ++n;
}

using vocrel::autothr::FrameMeasure;

enum class FrameKind { Sound, Gap, Silent, Stuck };

FrameKind frame_kind(const FrameMeasure& m) {
  if (m.silent) return FrameKind::Silent;
  if (m.gap) return FrameKind::Gap;
  return m.still ? FrameKind::Stuck : FrameKind::Sound;
}

bool mostly_sound(const Vocrel_RNR_FrameIo& io, std::int32_t channels) {
  const auto n = static_cast<std::int32_t>(io.frameLen);
  if (!vocrel::autothr::gap_is_mostly_sound(io.inCh0, n)) return false;
  return channels == 1 || vocrel::autothr::gap_is_mostly_sound(io.inCh1, n);
}

// One frame of zeros through the engine, its output dropped: the restored
// instance then holds a silent previous frame, as the live one did, so the
// output resumes from silence instead of replaying the frame before the gap.
std::int32_t prime_with_silence(void* handle, std::int32_t channels, std::uint32_t frameLen) {
  // Zeroed on the stack: a stored frame of zeros would cost 960 bytes of tables.
  const std::array<std::int16_t, kMaxFrameLen> zeros{};
  std::array<std::array<std::int16_t, kMaxFrameLen>, 2> dropped;
  Vocrel_RNR_FrameIo io = {zeros.data(), channels == 2 ? zeros.data() : nullptr, frameLen,
                           dropped[0].data(), channels == 2 ? dropped[1].data() : nullptr};
  return Vocrel_RNR_Apply(handle, &io, nullptr);
}

std::int16_t* gap_frame(void* spare, std::size_t channel) {
  return reinterpret_cast<std::int16_t*>(static_cast<unsigned char*>(spare) + kRecordBytes) +
         channel * kMaxFrameLen;
}

void keep_gap_frame(void* spare, const Vocrel_RNR_FrameIo& io, std::int32_t channels) {
  std::memcpy(gap_frame(spare, 0), io.inCh0, io.frameLen * sizeof(std::int16_t));
  if (channels == 2) std::memcpy(gap_frame(spare, 1), io.inCh1, io.frameLen * sizeof(std::int16_t));
}

// The kept gap frame through the engine, its output dropped.
std::int32_t replay_gap_frame(void* handle, void* spare, std::int32_t channels,
                              std::uint32_t frameLen) {
  std::array<std::array<std::int16_t, kMaxFrameLen>, 2> dropped;
  Vocrel_RNR_FrameIo io = {gap_frame(spare, 0), channels == 2 ? gap_frame(spare, 1) : nullptr,
                           frameLen, dropped[0].data(),
                           channels == 2 ? dropped[1].data() : nullptr};
  return Vocrel_RNR_Apply(handle, &io, nullptr);
}

// Puts the kept instance back, with the tunables the caller has set since.
// An instance kept after sound had come is primed with a silent frame; then
// the frame where sound began to return, if the gap ended inside one, is run
// through it, so that the frame it outputs next is that frame cleaned whole.
std::int32_t resume_from_spare(void* handle, void* spare, bool afterSound, bool gapFrame) {
  Vocrel_RNR_Params now{};
  std::int32_t status = Vocrel_RNR_GetParams(handle, &now);
  if (status != VOCREL_RNR_OK) return status;
  std::memcpy(handle, spare, kRecordBytes);
  status = Vocrel_RNR_SetParams(handle, &now);
  const auto frameLen = static_cast<std::uint32_t>(now.sampleRate / 100);
  if (status == VOCREL_RNR_OK && afterSound)
    status = prime_with_silence(handle, now.channels, frameLen);
  if (status == VOCREL_RNR_OK && gapFrame)
    status = replay_gap_frame(handle, spare, now.channels, frameLen);
  return status;
}

bool state_ok(const Vocrel_RNR_Feed& f) {
  return f.magic == kMagic && (f.flags & ~kKnownFlags) == 0 && f.holding >= kNotHolding &&
         f.holding <= kHoldingGapFrame;
}

// The stream fields of an instance's parameters are ones the engine runs:
// what bounds the frame buffers and the spare block's gap frame.
bool stream_shape_ok(const Vocrel_RNR_Params& p) {
  const bool rate_ok = p.sampleRate == 8000 || p.sampleRate == 16000 || p.sampleRate == 48000;
  return rate_ok && (p.channels == 1 || p.channels == 2);
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
  // A damaged header is refused as Apply refuses it, before its channel count
  // or frame length sizes anything here.
  if (!stream_shape_ok(p)) return VOCREL_RNR_E_CORRUPT;
  if (io->frameLen != static_cast<std::uint32_t>(p.sampleRate / 100)) return VOCREL_RNR_E_FRAME_LEN;
  if (io->inCh0 == nullptr || (p.channels == 2 && io->inCh1 == nullptr))
    return VOCREL_RNR_E_NULL_INPUT;

  const std::int16_t* in[2] = {io->inCh0, io->inCh1};
  const FrameMeasure measure =
      vocrel::autothr::measure_frame(in, p.channels, static_cast<std::int32_t>(io->frameLen));
  const FrameKind kind = hold ? frame_kind(measure) : FrameKind::Sound;
  if (kind == FrameKind::Sound && feed->holding != kNotHolding) {
    // A gap with digital silence or a stuck block in it is over: back to the
    // instance kept before it. A gap without (a dropout within a frame, a few
    // clipped frames) taught the engine little, and the live instance goes on.
    if (feed->silentRun > 0 || feed->stuckRun >= kStuckBlockFrames) {
      status = resume_from_spare(handle, spare, feed->soundFrames > 0,
                                 feed->holding == kHoldingGapFrame);
      if (status != VOCREL_RNR_OK) return status;
      saturating_inc(feed->holds);
    }
    feed->holding = kNotHolding;
    feed->silentRun = 0;
    feed->stuckRun = 0;
  }
  if (kind != FrameKind::Sound) {
    if (feed->holding == kNotHolding)
      std::memcpy(spare, handle, kRecordBytes);  // the instance before the gap
    // The gap's last frame is worth cleaning whole once sound returns only
    // when sound fills most of it; a frame mostly of silence (and of a
    // converter's ringing) would teach the engine as much silence.
    const bool replay = kind == FrameKind::Gap && feed->silentRun > 0 &&
                        mostly_sound(*io, p.channels) && feed->soundFrames > 0;
    if (replay) keep_gap_frame(spare, *io, p.channels);
    feed->holding = replay ? kHoldingGapFrame : kHoldingSilent;
  }

  std::int32_t changed = 0;
  if ((feed->flags & VOCREL_RNR_FEED_AUTO_THR) == 0) {
    feed->thrDb = p.levelThrDb;
  } else {
    if (!vocrel::autothr::tracker_ok(feed->thr) || feed->thr.channels != p.channels)
      return VOCREL_RNR_AUTOTHR_E_STATE;
    changed = vocrel::autothr::track_frame(feed->thr, handle, measure, &feed->thrDb);
    if (changed < 0) return changed;
  }
  status = Vocrel_RNR_Apply(handle, io, nullptr);
  if (status != VOCREL_RNR_OK) return status;

  if (kind == FrameKind::Sound) saturating_inc(feed->soundFrames);
  if (kind == FrameKind::Silent) {
    saturating_inc(feed->silentFrames);
    saturating_inc(feed->silentRun);
  }
  if (kind == FrameKind::Stuck) saturating_inc(feed->stuckRun);
  if (thrDb != nullptr) *thrDb = feed->thrDb;
  return changed;
}

}  // extern "C"

static_assert(sizeof(Vocrel_RNR_Feed) == 144);
static_assert(offsetof(Vocrel_RNR_Feed, magic) == 104);
