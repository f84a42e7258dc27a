"""Engine status codes and the exception that carries them."""

from __future__ import annotations

from ._status import STATUS  # code -> (constant name, cause in words), as vocrel-clean says it


def describe(code: int) -> str:
    """The cause of a status code in words."""
    entry = STATUS.get(code)
    return entry[1] if entry else f"unknown status {code}"


class VocrelError(RuntimeError):
    """An engine call returned a negative status.

    Attributes: code (the status), name (its constant), cause (in words), call
    (the C function that returned it) and detail (the offending value, or "").
    """

    def __init__(self, code: int, call: str, detail: str = ""):
        self.code = code
        self.call = call
        self.detail = detail
        self.name, self.cause = STATUS.get(code, ("?", describe(code)))
        got = f", got {detail}" if detail else ""
        super().__init__(f"{call}: {self.cause}{got} (status {code}, {self.name})")


def check(code: int, call: str, detail: str = "") -> None:
    if code != 0:
        raise VocrelError(code, call, detail)
