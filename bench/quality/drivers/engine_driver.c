/* This library's engine. Options: mode=0|1 maxnr=N thr=DB|auto hold=0.
 * thr=auto runs every frame through the frame feed as the front ends do
 * (automatic threshold and silence hold; hold=0 leaves the hold out) and
 * prints every threshold change as "thr FRAME DB"; a fixed threshold runs
 * Vocrel_RNR_Apply alone. */
#include <string.h>

#include "driver_common.h"
#include "vocrel_rnr.h"
#include "vocrel_rnr_feed.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const int rate = atoi(argv[1]);
  long n = 0;
  int16_t* x = read_raw(argv[2], &n);
  if (!x) return 1;
  int mode = 0, autoThr = 0, hold = 1;
  Vocrel_RNR_Params p = g_Vocrel_RNR_Params_Flr_48k_MONO;
  for (int i = 4; i < argc; ++i) {
    if (!strncmp(argv[i], "mode=", 5)) mode = atoi(argv[i] + 5);
  }
  if (mode == 1) p = g_Vocrel_RNR_Params_Env_8k_MONO;
  for (int i = 4; i < argc; ++i) {
    if (!strncmp(argv[i], "maxnr=", 6)) p.maxNr = atoi(argv[i] + 6);
    if (!strcmp(argv[i], "hold=0")) hold = 0;
    if (!strcmp(argv[i], "thr=auto"))
      autoThr = 1;
    else if (!strncmp(argv[i], "thr=", 4))
      p.levelThrDb = atoi(argv[i] + 4);
  }
  p.sampleRate = rate;
  p.channels = 1;
  p.mode = mode;
  static unsigned char mem[VOCREL_RNR_MEM_SIZE], spare[VOCREL_RNR_FEED_SPARE_SIZE];
  void* h = NULL;
  if (Vocrel_RNR_Init(&h, mem, sizeof mem, &p) != 0) return 1;
  Vocrel_RNR_Feed feed;
  const uint32_t flags = VOCREL_RNR_FEED_AUTO_THR | (hold ? VOCREL_RNR_FEED_SILENCE_HOLD : 0u);
  if (autoThr && Vocrel_RNR_FeedInit(&feed, h, flags) != 0) return 1;
  const long F = rate / 100, frames = (n + F - 1) / F + 1; /* one more: the engine's delay */
  int16_t* y = (int16_t*)calloc((size_t)(frames * F), 2);
  int16_t* z = (int16_t*)calloc((size_t)(n + 2 * F), 2);
  memcpy(z, x, (size_t)n * 2);
  double t = 0;
  for (long k = 0; k < frames; ++k) {
    Vocrel_RNR_FrameIo io = {z + k * F, NULL, (uint32_t)F, y + k * F, NULL};
    const double t0 = now_ns();
    int32_t thr = 0;
    const int32_t s =
        autoThr ? Vocrel_RNR_FeedFrame(&feed, h, spare, &io, &thr) : Vocrel_RNR_Apply(h, &io, NULL);
    t += now_ns() - t0;
    if (s < 0 || (!autoThr && s != 0)) return 1;
    if (s == 1) printf("thr %ld %d\n", k, (int)thr);
  }
  if (write_raw(argv[3], y + F, n) != 0) return 1; /* aligned with the input */
  printf("frames=%ld ns_per_frame=%.0f\n", frames, t / (double)frames);
  return 0;
}
