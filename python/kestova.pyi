"""Reads and writes the devices of a QnA/Q-series PLC over a serial line, and runs a
virtual PLC on a pseudo-terminal to test against."""

import builtins
from os import PathLike
from types import TracebackType
from typing import Callable, Iterable, Mapping

__version__: str

class Error(Exception):
    """Base of every error the module raises."""
    result: int | None
    """The control's result code; None when the call ended without one."""
    messages: tuple[str, ...]
    """The control's texts during the call."""
    end_code: int | None
    number: int | None

class ArgumentError(Error, ValueError):
    """The control or the module refused an argument; nothing was sent."""

class TimeoutError(Error, builtins.TimeoutError):
    """No complete answer within the time-out."""

class EndCodeError(Error):
    """The PLC answered with an error end code."""
    end_code: int

class SumCheckError(Error):
    """An answer arrived with wrong sum-check characters and was refused."""

class LengthError(Error):
    """An answer arrived with the wrong length and was refused."""

class PortError(Error):
    """The serial port is closed (number 8012) or failed (number: run-time error number)."""
    number: int

class Tarvane:
    """The control on one serial port; a context manager that opens and closes it.

    port is a device path or a port number (n opens /dev/ttyS<n-1>); timeout is in whole
    seconds. Every method raises an Error subclass unless the control reports success.
    One call at a time; other Python threads run while a call waits on the line.
    """

    on_message: Callable[[str], object] | None
    """Receives every text the control reports, after the call that raised it."""
    timeout: int
    """Answer time-out in whole seconds."""

    def __init__(
        self,
        port: str | PathLike[str] | int,
        settings: str = "9600,n,8,1",
        timeout: int = 3,
        sum_check: bool = False,
        station: int = 0,
        network: int = 0,
        pc: int = 255,
        module_io: int = 1023,
        module_station: int = 0,
        handshaking: int = 0,
        log_dir: str | PathLike[str] | None = None,
    ) -> None: ...
    def __enter__(self) -> Tarvane: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc: BaseException | None,
        traceback: TracebackType | None,
    ) -> None: ...
    def open(self) -> None:
        """Opens the port."""
    def close(self) -> None:
        """Closes the port; closing a closed port does nothing."""
    @property
    def is_open(self) -> bool:
        """True while the port is open."""

    def read(self, device: str, points: int) -> list[int]:
        """Reads `points` words from `device` ("D100", "X1F0", "m8"): a signed int per word
        of a word family, 16 bits (0 or 1) per point of a bit family."""
    def write(self, device: str, value: int) -> None:
        """Writes one word (-32768..65535) to a D, W or ZR device."""
    def write_block(self, device: str, values: Iterable[int]) -> None:
        """Writes 1..480 words to consecutive D, W or ZR devices."""
    def set(self, device: str) -> None:
        """Switches one M, Y, B, L, F or S device on."""
    def reset(self, device: str) -> None:
        """Switches one M, Y, B, L, F or S device off."""
    def run(self, mode: int = 1, clear_mode: int = 1) -> None:
        """Remote RUN (mode 1 normal, 3 forced; clear_mode 1 keeps the latch range, 2 clears all)."""
    def stop(self, mode: int = 1) -> None:
        """Remote STOP."""
    def reset_cpu(self, mode: int = 1) -> None:
        """Remote RESET (the CPU must be stopped)."""

    def read_int16(self, device: str, count: int) -> list[int]: ...
    def read_uint16(self, device: str, count: int) -> list[int]: ...
    def read_int32(self, device: str, count: int) -> list[int]:
        """Two devices a value, low word first."""
    def read_uint32(self, device: str, count: int) -> list[int]:
        """Two devices a value, low word first."""
    def read_float(self, device: str, count: int) -> list[float]:
        """IEEE single floats, two devices a value, low word first."""
    def read_text(self, device: str, length: int) -> str:
        """Up to `length` ASCII characters, two a device, ending early at a zero byte."""
    def write_int16(self, device: str, values: int | Iterable[int]) -> None: ...
    def write_uint16(self, device: str, values: int | Iterable[int]) -> None: ...
    def write_int32(self, device: str, values: int | Iterable[int]) -> None: ...
    def write_uint32(self, device: str, values: int | Iterable[int]) -> None: ...
    def write_float(self, device: str, values: float | Iterable[float]) -> None: ...
    def write_text(self, device: str, text: str) -> None:
        """ASCII, two characters a device, the first in the low byte; no terminator."""

class PlcMemory:
    """The virtual PLC's devices by name: words as signed ints (assign -32768..65535),
    bits ("M5", "X1F", "D100.5") as 0 or 1."""
    def __getitem__(self, device: str) -> int: ...
    def __setitem__(self, device: str, value: int) -> None: ...

class VirtualPlc:
    """A virtual PLC answering on a pseudo-terminal; a context manager that starts and
    stops it. faults: {"no_answer": 1} or {"end_code": {"code": 0x4031, "count": 2}}."""

    running: bool
    """True while the CPU is in RUN."""

    def __init__(
        self, sum_check: bool = False, faults: Mapping[str, int | Mapping[str, int]] | None = None
    ) -> None: ...
    def __enter__(self) -> VirtualPlc: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc: BaseException | None,
        traceback: TracebackType | None,
    ) -> None: ...
    def start(self) -> str:
        """Starts serving and returns the terminal path."""
    def stop(self) -> None:
        """Stops serving and closes the terminal."""
    @property
    def port(self) -> str | None:
        """The terminal path while serving, else None."""
    @property
    def memory(self) -> PlcMemory: ...
    @property
    def request_count(self) -> int:
        """Frames received so far."""
    def fault(
        self, kind: str, count: int = 1, *, code: int | None = None, keep: int | None = None,
        ms: int | None = None,
    ) -> None:
        """Misbehaves on the next `count` requests: "no_answer", "end_code" (code=...),
        "bad_sum", "cut" (keep=... bytes), "delay" (ms=...)."""
    def clear_faults(self) -> None: ...
