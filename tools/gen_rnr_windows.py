#!/usr/bin/env python3
"""Prints the sine analysis/synthesis windows of the environment-noise path.

w[n] = round(32767 * sin(pi * (n + 1) / W)), n = 0..W-1, W = 160 (8 kHz) and
320 (16 kHz). src/rnr/rnr_tables.cpp holds the output and checks every entry
against the same rule at compile time.
"""
import math


def window(w):
    return [round(32767 * math.sin(math.pi * (n + 1) / w)) for n in range(w)]


def emit(name, values):
    print(f"// tools/gen_rnr_windows.py, W = {len(values)}")
    print(f"extern constexpr int16_t {name}[{len(values)}] = {{")
    for i in range(0, len(values), 10):
        print("    " + ", ".join(str(v) for v in values[i:i + 10]) + ",")
    print("};")


if __name__ == "__main__":
    emit("vocrel_rnr_fftWinCoef_8k", window(160))
    emit("vocrel_rnr_fftWinCoef_16k", window(320))
