#!/usr/bin/env python3
"""Cleans many recordings on a Dask cluster's workers with the vocrel_rnr package.

    python3 dask_clean.py --scheduler tcp://10.0.0.5:8786 /shared/corpus -o /shared/cleaned
    python3 dask_clean.py --local 2 a.wav b.flac talks/ -o cleaned

Each input file is read, cleaned and written by one worker task: a folder's
files land at the same relative path under OUTDIR, a file named on its own at
OUTDIR/its name. Outputs keep their input's container and, as vocrel-clean
does, its 24/32-bit or float sample format. Paths are handed to the workers
as they are, so on a real cluster inputs and OUTDIR must be on storage every
worker sees under the same path, and every worker needs vocrel_rnr (pip
install ./python), NumPy and soundfile. A failed task is retried; a file that
still fails is listed with its reason and the exit status is 1. Each output
appears whole or not at all (write_audio writes a temporary and renames it).
"""

import argparse
import sys
from pathlib import Path

EXTENSIONS = ".wav,.flac,.aiff,.aif,.ogg"


def clean_one(src: str, dst: str, mode: str, tunables: dict) -> float:
    """Runs on a worker: cleans src into dst; returns the seconds of audio."""
    from vocrel_rnr import clean, read_audio, write_audio

    audio, rate = read_audio(src)
    out = clean(audio, rate, mode, **tunables)
    Path(dst).parent.mkdir(parents=True, exist_ok=True)
    write_audio(dst, out, rate, like=src)
    return len(audio) / rate


def plan(inputs: list[str], outdir: Path, extensions: set[str]) -> list[tuple[Path, Path]]:
    """(input, output) pairs: folders walked in name order, their tree mirrored."""
    pairs = []
    for arg in map(Path, inputs):
        if arg.is_dir():
            pairs += [(f, outdir / f.relative_to(arg)) for f in sorted(arg.rglob("*"))
                      if f.is_file() and f.suffix.lower() in extensions]
        elif arg.is_file():
            pairs.append((arg, outdir / arg.name))
        else:
            raise SystemExit(f"dask_clean: {arg}: no such file or folder")
    seen = {}
    for src, dst in pairs:
        if dst in seen:
            raise SystemExit(f"dask_clean: {seen[dst]} and {src} would both be written to {dst}")
        if dst.resolve() == src.resolve():
            raise SystemExit(f"dask_clean: {src} would be written over itself")
        seen[dst] = src
    return pairs


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("inputs", nargs="+", metavar="IN", help="audio files and folders")
    p.add_argument("-o", "--outdir", required=True, type=Path)
    where = p.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", metavar="ADDRESS", help="e.g. tcp://10.0.0.5:8786")
    where.add_argument("--local", type=int, metavar="N", help="a cluster of N workers here")
    p.add_argument("--ext", default=EXTENSIONS,
                   help=f"extensions taken from folders (default {EXTENSIONS})")
    p.add_argument("--retries", type=int, default=2, help="retries of a failed file (default 2)")
    p.add_argument("--mode", default="floor", choices=("floor", "environment"))
    p.add_argument("--max-nr", type=int, help="most noise reduction, dB (2..20)")
    return p.parse_args(argv)


def main(argv=None) -> int:
    args = parse_args(argv)
    from distributed import Client, LocalCluster, progress, wait

    extensions = {e if e.startswith(".") else "." + e for e in args.ext.lower().split(",")}
    pairs = plan(args.inputs, args.outdir, extensions)
    if not pairs:
        raise SystemExit("dask_clean: no audio files among the inputs")
    tunables = {} if args.max_nr is None else {"max_nr": args.max_nr}
    # One thread a worker: the engine keeps a core busy on its own.
    cluster = None if args.scheduler else LocalCluster(
        n_workers=args.local, threads_per_worker=1, dashboard_address=None)
    with Client(args.scheduler or cluster) as client:
        futures = [client.submit(clean_one, str(src), str(dst), args.mode, tunables,
                                 retries=args.retries, pure=False, key=f"clean-{i}-{src.name}")
                   for i, (src, dst) in enumerate(pairs)]
        progress(futures)  # a bar on the terminal; it stops at the first failure
        print()  # after the bar
        wait(futures)  # the others still running
        seconds, failed = 0.0, []
        for (src, _), fut in zip(pairs, futures):
            if fut.status == "finished":
                seconds += fut.result()
            else:
                failed.append((src, fut.exception()))
    if cluster is not None:
        cluster.close()
    print(f"dask_clean: {len(pairs) - len(failed)} of {len(pairs)} files cleaned "
          f"({seconds / 3600:.3f} h of audio) into {args.outdir}", file=sys.stderr)
    for src, exc in failed:
        print(f"dask_clean: {src}: {exc}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
