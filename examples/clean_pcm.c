/* Cleans raw 16-bit mono PCM: clean_pcm RATE < noisy.raw > clean.raw
 * (floor-noise path with its default tunables; RATE is 8000, 16000 or 48000). */
#include <stdio.h>
#include <stdlib.h>

#include "vocrel_rnr.h"

int main(int argc, char** argv) {
  Vocrel_RNR_Params params = g_Vocrel_RNR_Params_Flr_48k_MONO;
  params.sampleRate = argc > 1 ? atoi(argv[1]) : 16000;

  Vocrel_RNR_StreamCfg stream = {params.sampleRate, params.channels, params.mode};
  Vocrel_RNR_MemInfo info;
  int32_t status = Vocrel_RNR_GetSize(&info, &stream);
  void *mem = status == 0 ? malloc(info.memSize) : NULL, *nr = NULL;
  if (mem) status = Vocrel_RNR_Init(&nr, mem, info.memSize, &params);

  int16_t in[480], out[480];
  size_t n;
  while (nr && status == 0 && (n = fread(in, 2, info.inFrameLen, stdin)) > 0) {
    for (size_t i = n; i < info.inFrameLen; ++i) in[i] = 0; /* pad the last frame */
    Vocrel_RNR_FrameIo io = {in, NULL, info.inFrameLen, out, NULL};
    status = Vocrel_RNR_Apply(nr, &io, NULL);
    if (status == 0) fwrite(out, 2, info.inFrameLen, stdout); /* one frame behind the input */
  }
  free(mem); /* there is no release call: the caller owns the block */
  if (status != 0 || !nr) fprintf(stderr, "clean_pcm: status %d\n", (int)status);
  return status != 0 || !nr;
}
