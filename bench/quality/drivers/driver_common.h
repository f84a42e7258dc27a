/* Shared by the quality drivers: raw 16-bit mono PCM in and out, 10 ms
 * frames, wall time of the processing calls only.
 * usage: DRIVER RATE IN.raw OUT.raw [OPTIONS]; prints "frames=N ns_per_frame=T". */
#ifndef QUALITY_DRIVER_COMMON_H
#define QUALITY_DRIVER_COMMON_H
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int16_t* read_raw(const char* path, long* n) {
  FILE* f = fopen(path, "rb");
  if (!f) return NULL;
  fseek(f, 0, SEEK_END);
  *n = ftell(f) / 2;
  fseek(f, 0, SEEK_SET);
  int16_t* x = (int16_t*)calloc((size_t)*n + 4800, 2); /* room for a zero-padded last frame */
  if (x && fread(x, 2, (size_t)*n, f) != (size_t)*n) {
    free(x);
    x = NULL;
  }
  fclose(f);
  return x;
}

static int write_raw(const char* path, const int16_t* x, long n) {
  FILE* f = fopen(path, "wb");
  if (!f) return -1;
  size_t w = fwrite(x, 2, (size_t)n, f);
  return fclose(f) == 0 && w == (size_t)n ? 0 : -1;
}

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}
#endif
