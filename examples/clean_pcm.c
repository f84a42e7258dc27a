/* Cleans raw 16-bit mono PCM: clean_pcm [RATE] < noisy.raw > clean.raw
 * (floor-noise path, RATE 8000, 16000 or 48000, default 48000). The frame feed
 * sets the level threshold from the input's own noise floor and keeps the
 * learnt noise over digital silence; plain Vocrel_RNR_Apply would keep the
 * library's fixed -55 dB threshold, which leaves louder noise untouched. */
#include <stdio.h>
#include <stdlib.h>

#include "vocrel_rnr_feed.h"

int main(int argc, char** argv) {
  Vocrel_RNR_Params params = g_Vocrel_RNR_Params_Flr_48k_MONO;
  if (argc > 1) params.sampleRate = atoi(argv[1]);

  Vocrel_RNR_StreamCfg stream = {params.sampleRate, params.channels, params.mode};
  Vocrel_RNR_MemInfo info;
  int32_t status = Vocrel_RNR_GetSize(&info, &stream);
  void *mem = status == 0 ? malloc(info.memSize) : NULL, *nr = NULL;
  void* spare = malloc(VOCREL_RNR_FEED_SPARE_SIZE);
  Vocrel_RNR_Feed feed;
  if (mem && spare) status = Vocrel_RNR_Init(&nr, mem, info.memSize, &params);
  if (nr && status == 0) status = Vocrel_RNR_FeedInit(&feed, nr, VOCREL_RNR_FEED_DEFAULT);

  int16_t in[480], out[480];
  size_t n;
  while (nr && status >= 0 && (n = fread(in, 2, info.inFrameLen, stdin)) > 0) {
    for (size_t i = n; i < info.inFrameLen; ++i) in[i] = 0; /* pad the last frame */
    Vocrel_RNR_FrameIo io = {in, NULL, info.inFrameLen, out, NULL};
    status = Vocrel_RNR_FeedFrame(&feed, nr, spare, &io, NULL); /* 1: threshold moved */
    if (status >= 0) fwrite(out, 2, info.inFrameLen, stdout);   /* one frame behind the input */
  }
  free(spare);
  free(mem); /* there is no release call: the caller owns the block */
  if (status < 0 || !nr) fprintf(stderr, "clean_pcm: status %d\n", (int)status);
  return status < 0 || !nr;
}
