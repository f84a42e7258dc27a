/*
 * vocrel-host-sim: behaves like a host audio framework. It loads the shared
 * library with dlopen, finds g_Audio_RNR_WorkHandle with dlsym and drives
 * the three entry points over blocks of audio, checking what a host relies
 * on. Needs nothing but the C library and libdl.
 *
 * usage: vocrel-host-sim LIBRARY [--rate HZ] [--custom MODE MAXNR LEVELTHR]
 *                        [--block FRAMES] [--in FILE.s16] [--out FILE.s16]
 *
 * Without --in it feeds 3 s of seeded noise with tone bursts from 1.5 s on.
 * Exit status 0 when every check holds; the output digest (FNV-1a 64) and the
 * noise reduction in the noise-only stretch are printed.
 */
#include <dlfcn.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vocrel_rnr_host.h"

static int g_failures;

#define CHECK(cond, ...)                                              \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "vocrel-host-sim: check failed: " __VA_ARGS__); \
      fputc('\n', stderr);                                            \
      ++g_failures;                                                   \
    }                                                                 \
  } while (0)

static uint64_t fnv1a64(const int16_t* x, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) {
    const uint16_t v = (uint16_t)x[i];
    h = (h ^ (v & 0xFFu)) * 1099511628211ull;
    h = (h ^ (v >> 8)) * 1099511628211ull;
  }
  return h;
}

static double energy(const int16_t* x, size_t n) {
  double e = 0;
  for (size_t i = 0; i < n; ++i) e += (double)x[i] * x[i];
  return e;
}

/* Seeded white noise (about -50 dBFS) with 300 Hz triangle-wave bursts from 1.5 s. */
static int16_t* generate(int32_t rate, size_t n) {
  int16_t* x = malloc(n * sizeof *x);
  uint32_t s = 12345u;
  if (!x) return NULL;
  for (size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    double v = ((double)(s >> 16) - 32768.0) / 32768.0 * 300.0;
    if (i >= (size_t)rate * 3 / 2 && (i / (size_t)(rate / 5)) % 2 == 0) {
      /* Integer triangle wave, so that the input is the same bits on every target. */
      const uint32_t phase = (uint32_t)((uint64_t)i * 300u * 65536u / (uint64_t)rate) & 0xFFFFu;
      const int32_t tri = phase < 32768u ? (int32_t)phase - 16384 : 49152 - (int32_t)phase;
      v += (double)(tri * 9000 / 16384);
    }
    x[i] = (int16_t)v;
  }
  return x;
}

static int16_t* read_raw(const char* path, size_t* n) {
  FILE* f = fopen(path, "rb");
  int16_t* x = NULL;
  long bytes;
  if (!f) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (bytes = ftell(f)) > 0 && fseek(f, 0, SEEK_SET) == 0) {
    *n = (size_t)bytes / 2;
    x = malloc(*n * sizeof *x + 1);
    if (x && fread(x, 2, *n, f) != *n) {
      free(x);
      x = NULL;
    }
  }
  fclose(f);
  return x;
}

int main(int argc, char** argv) {
  const char *lib = NULL, *inPath = NULL, *outPath = NULL;
  int32_t rate = 16000, blockFrames = 4;
  TQ_RNR_NrSettings nr = {0, 0, 10, -50};
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--rate") && i + 1 < argc) {
      rate = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--custom") && i + 3 < argc) {
      nr.useCustom = 1;
      nr.mode = atoi(argv[++i]);
      nr.maxNrDb = atoi(argv[++i]);
      nr.levelThrDb = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--block") && i + 1 < argc) {
      blockFrames = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--in") && i + 1 < argc) {
      inPath = argv[++i];
    } else if (!strcmp(argv[i], "--out") && i + 1 < argc) {
      outPath = argv[++i];
    } else if (!lib && argv[i][0] != '-') {
      lib = argv[i];
    } else {
      fprintf(stderr,
              "usage: vocrel-host-sim LIBRARY [--rate HZ] [--custom MODE MAXNR LEVELTHR]\n"
              "                       [--block FRAMES] [--in FILE.s16] [--out FILE.s16]\n");
      return 2;
    }
  }
  if (!lib || blockFrames < 1) {
    fprintf(stderr, "vocrel-host-sim: a library path and a positive block size are needed\n");
    return 2;
  }

  void* so = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
  if (!so) {
    fprintf(stderr, "vocrel-host-sim: %s\n", dlerror());
    return 1;
  }
  const TQ_RNR_ModuleDesc* desc = (const TQ_RNR_ModuleDesc*)dlsym(so, "g_Audio_RNR_WorkHandle");
  if (!desc) {
    fprintf(stderr, "vocrel-host-sim: %s\n", dlerror());
    dlclose(so);
    return 1;
  }
  CHECK(strncmp(desc->name, "RNR", TQ_RNR_MODULE_NAME_LEN) == 0, "module name \"%.28s\"",
        desc->name);
  CHECK(desc->init == (TQ_RNR_InitFn)dlsym(so, "TQ_RNR_Init"), "init entry point");
  CHECK(desc->process == (TQ_RNR_ProcessFn)dlsym(so, "TQ_RNR_Process"), "process entry point");
  CHECK(desc->deinit == (TQ_RNR_DeInitFn)dlsym(so, "TQ_RNR_DeInit"), "deinit entry point");
  typedef const char* (*StatusTextFn)(int32_t);
  const StatusTextFn status_text = (StatusTextFn)dlsym(so, "Vocrel_RNR_StatusText");
  CHECK(status_text != NULL, "status text entry point");

  /* A host that forgets its configuration gets -1 and no handle. */
  void* handle = NULL;
  fprintf(stderr, "vocrel-host-sim: expecting one error message:\n");
  CHECK(desc->init(&handle, rate, NULL) == -1 && handle == NULL, "init without configuration");

  const TQ_RNR_ModeConfig cfg = {{0, 0, 0}, &nr};
  int32_t status = desc->init(&handle, rate, &cfg);
  if (status != 0) {
    fprintf(stderr, "vocrel-host-sim: init at %d Hz failed: %s (status %d)\n", (int)rate,
            status_text(status), (int)status);
    dlclose(so);
    return 1;
  }

  /* The host's frame rule: the floor-noise mode at 8/16 kHz takes 480 samples. */
  const int32_t hostMode = nr.mode;
  const size_t frameLen = (rate != 48000 && hostMode == 0) ? 480 : (size_t)rate / 100;
  const size_t block = frameLen * (size_t)blockFrames;

  size_t n = 0;
  int16_t* in = inPath ? read_raw(inPath, &n) : generate(rate, n = (size_t)rate * 3);
  if (!in) {
    fprintf(stderr, "vocrel-host-sim: cannot read %s\n", inPath ? inPath : "(generated)");
    desc->deinit(handle);
    dlclose(so);
    return 1;
  }
  n -= n % block; /* the host delivers whole blocks */
  int16_t* out = calloc(n + 1, sizeof *out);
  if (!out) return 1;

  for (size_t at = 0; at < n; at += block) {
    TQ_RNR_AudioFrame fin = {in + at, (uintptr_t)at, {0, 0}, (uint32_t)(block * 2)};
    TQ_RNR_AudioFrame fout = {out + at, 0, {0, 0}, 0};
    status = desc->process(handle, &fin, &fout);
    CHECK(status == 0, "process at sample %zu returned %d", at, (int)status);
    CHECK(fout.tag == (uintptr_t)at && fout.lengthBytes == block * 2,
          "tag/length not copied at sample %zu", at);
    if (status != 0) break;
  }
  CHECK(desc->deinit(handle) == 0, "deinit");
  CHECK(desc->deinit(NULL) == 0, "deinit of a null handle");

  /* Noise-only stretch: 0.5 s .. 1.5 s of the generated input. */
  if (!inPath) {
    const size_t a = (size_t)rate / 2, b = (size_t)rate * 3 / 2;
    const double inE = energy(in + a, b - a), outE = energy(out + a, b - a);
    const double reductionDb = 10.0 * log10(inE / (outE + 1.0));
    printf("noise reduction in the noise-only stretch: %.1f dB\n", reductionDb);
    CHECK(reductionDb > 3.0, "the noise-only stretch is not reduced (%.1f dB)", reductionDb);
    const double toneE = energy(out + b, n - b);
    CHECK(toneE > 0.0, "the tone bursts vanished");
  }
  printf("rate %d, frame %zu, %zu samples, output digest %016llx\n", (int)rate, frameLen, n,
         (unsigned long long)fnv1a64(out, n));

  if (outPath) {
    FILE* f = fopen(outPath, "wb");
    CHECK(f && fwrite(out, 2, n, f) == n, "cannot write %s", outPath);
    if (f) fclose(f);
  }
  free(in);
  free(out);
  dlclose(so);
  if (g_failures) fprintf(stderr, "vocrel-host-sim: %d check(s) failed\n", g_failures);
  return g_failures ? 1 : 0;
}
