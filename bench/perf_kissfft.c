/* Peer driver of bench/perf.sh: the 1024-point complex transform pair
 * (forward, then inverse) of kissfft built with FIXED_POINT=32, over the
 * same kind of frame as the engine's pair (480 real samples, zeros after).
 * perf.sh compiles it against the kissfft sources from Debian's source
 * package; nothing of it enters the library.
 * Usage: perf_kissfft PAIRS */
#include <stdio.h>
#include <stdlib.h>

#include "kiss_fft.h"

enum { kPoints = 1024, kLive = 480 };

__attribute__((noinline, used)) void kiss_pair(kiss_fft_cfg fwd, kiss_fft_cfg inv, kiss_fft_cpx* a,
                                               kiss_fft_cpx* b) {
  kiss_fft(fwd, a, b);
  kiss_fft(inv, b, a);
}

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? atoi(argv[1]) : 100;
  kiss_fft_cfg fwd = kiss_fft_alloc(kPoints, 0, NULL, NULL);
  kiss_fft_cfg inv = kiss_fft_alloc(kPoints, 1, NULL, NULL);
  static kiss_fft_cpx a[kPoints], b[kPoints];
  unsigned seed = 777;
  long long sum = 0;
  for (int p = 0; p < pairs; ++p) {
    for (int i = 0; i < kPoints; ++i) {
      seed = seed * 1664525u + 1013904223u;
      a[i].r = i < kLive ? (int)(seed >> 16) - 32768 : 0;
      a[i].i = 0;
    }
    kiss_pair(fwd, inv, a, b);
    sum += a[1].r;
  }
  printf("checksum %lld\n", sum);
  kiss_fft_free(fwd);
  kiss_fft_free(inv);
  return 0;
}
