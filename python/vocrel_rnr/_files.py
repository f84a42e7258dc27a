"""Writing output files whole: a temporary beside the file, renamed over it
once complete, so that a failed write (a full disk, an error, Ctrl-C) leaves
the old file as it was and no temporary behind. Every error names the file."""

from __future__ import annotations

import contextlib
import os
import stat
import tempfile
from pathlib import Path


def same_file(a, b) -> bool:
    """Whether two paths name the same file (through links, or as the same
    path when neither exists yet)."""
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def refuse_inputs(output, inputs, what: str = "output") -> None:
    """Raises ValueError when `output` is one of `inputs` (None entries skipped)."""
    for src in inputs:
        if src is not None and output is not None and same_file(output, src):
            raise ValueError(f"the {what} {output} is the input {src}: it would be overwritten")


def _new_file_mode() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return 0o666 & ~mask


@contextlib.contextmanager
def replacing(path):
    """Yields the path of a temporary in the folder of `path` (links followed)
    with the same extension; on leaving without an exception it takes the
    place of `path`, with the permissions of the file it replaces. Anything
    but a regular file (a FIFO, a device, /dev/stdout) is written directly."""
    try:
        direct = not stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        direct = False  # a new file
    if direct:
        try:
            yield str(path)
        except OSError as exc:
            raise OSError(exc.errno, f"cannot write {path}: {exc.strerror or exc}") from None
        return
    target = Path(os.path.realpath(path))
    try:
        fd, tmp = tempfile.mkstemp(dir=target.parent, prefix=f".{target.name[:200]}.",
                                   suffix=target.suffix)
    except OSError as exc:
        raise OSError(exc.errno, f"cannot write {path}: {exc.strerror}") from None
    os.close(fd)
    try:
        yield tmp
        try:
            st = os.stat(target)
            mode = st.st_mode & 0o1777
        except FileNotFoundError:
            st, mode = None, _new_file_mode()
        os.chmod(tmp, mode)
        if st is not None and (st.st_uid, st.st_gid) != (os.geteuid(), os.getegid()):
            with contextlib.suppress(OSError):  # where the user may
                os.chown(tmp, st.st_uid, st.st_gid)
        os.replace(tmp, target)
    except OSError as exc:
        raise OSError(exc.errno, f"cannot write {path}: {exc.strerror or exc}") from None
    finally:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(tmp)


def write_bytes(path, data: bytes) -> None:
    with replacing(path) as tmp:
        Path(tmp).write_bytes(data)


def write_text(path, text: str) -> None:
    write_bytes(path, text.encode("utf-8"))
