#!/usr/bin/env python3
"""Prints the sine analysis/synthesis windows of the environment-noise path.

The 16 kHz table is w[n] = round(32767 * sin(pi * (n + 1) / 320)), n = 0..319,
except its leading entries, which take the listed values below (within 3 units
of the curve). The 8 kHz table is every other entry of it: entry n is entry
2n + 1 of the 16 kHz table. src/rnr/rnr_tables.cpp holds the output and checks
every entry against the same rule at compile time.
"""
import math

# Listed leading entries of the 16 kHz table (n: value); n = 1, 3, 5, 7, 9 are
# also the first five entries of the 8 kHz table.
LISTED_16K = {0: 321, 1: 642, 2: 963, 3: 1288, 4: 1609, 5: 1930, 7: 2572, 9: 3211}


def window_16k():
    w = [round(32767 * math.sin(math.pi * (n + 1) / 320)) for n in range(320)]
    for n, v in LISTED_16K.items():
        w[n] = v
    return w


def emit(name, values):
    print(f"// tools/gen_rnr_windows.py, W = {len(values)}")
    print(f"extern constexpr int16_t {name}[{len(values)}] = {{")
    for i in range(0, len(values), 10):
        print("    " + ", ".join(str(v) for v in values[i:i + 10]) + ",")
    print("};")


if __name__ == "__main__":
    w16 = window_16k()
    emit("vocrel_rnr_fftWinCoef_8k", w16[1::2])
    emit("vocrel_rnr_fftWinCoef_16k", w16)
