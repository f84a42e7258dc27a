/* SpeexDSP's preprocessor with its denoiser on (default suppression, -15 dB). */
#include <speex/speex_preprocess.h>

#include "driver_common.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const int rate = atoi(argv[1]);
  long n = 0;
  int16_t* x = read_raw(argv[2], &n);
  if (!x) return 1;
  const int F = rate / 100;
  SpeexPreprocessState* st = speex_preprocess_state_init(F, rate);
  int on = 1;
  speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DENOISE, &on);
  const long frames = (n + F - 1) / F;
  double t = 0;
  for (long k = 0; k < frames; ++k) {
    const double t0 = now_ns();
    speex_preprocess_run(st, x + k * F);
    t += now_ns() - t0;
  }
  if (write_raw(argv[3], x, n) != 0) return 1;
  printf("frames=%ld ns_per_frame=%.0f\n", frames, t / (double)frames);
  speex_preprocess_state_destroy(st);
  return 0;
}
