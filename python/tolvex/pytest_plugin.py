"""pytest plugin: the fixture ``tolvex_sim``, a simulated terminal for one test.

The fixture starts the ``tolvex_sim`` program ($TOLVEX_SIM, else the one on PATH) and
yields a ``Terminal`` open on it; the program is stopped when the test ends, whatever
happened. Parameters come from the marker, or from indirect parametrisation (a dict)::

    @pytest.mark.tolvex_sim(faults=["C11:late=2500"], instant=True)
    def test_late(tolvex_sim): ...

    @pytest.mark.parametrize("tolvex_sim", [{"states": ["jam"]}], indirect=True)
    def test_jam(tolvex_sim): ...

Parameters: faults (fault rules), states (lasting states from the start: jam,
nocartridge=S, empty=S, low=S), instant (default True), card_inside (ms, ic, rf,
feeder, print), card_media, seed, baud, cards1, cards2, capture_count, exit_take,
tcp (serve over loopback TCP instead of a pseudo-terminal; the default on Windows, which
has no pseudo-terminals), args (further options),
timeout (the Terminal's default per-call time-out). The yielded Terminal's
``simulator`` attribute is the running Simulator (set_state, service and take_card send
the program its signals: POSIX only).
"""
from __future__ import annotations

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
from typing import Iterable, Optional

import pytest

from .terminal import Terminal

# SIGRTMIN+n sets a lasting state on the running program.
STATE_SIGNALS = {"jam": 1, "nocartridge=1": 2, "nocartridge=2": 3, "empty=1": 4, "empty=2": 5,
                 "low=1": 6, "low=2": 7}

_OPTIONS = {"card_inside": "--card-inside", "card_media": "--card-media", "seed": "--seed",
            "baud": "--baud", "cards1": "--cards1", "cards2": "--cards2",
            "capture_count": "--capture-count", "exit_take": "--exit-take"}


def sim_program() -> str:
    program = os.environ.get("TOLVEX_SIM") or shutil.which("tolvex_sim")
    if not program:
        raise RuntimeError("tolvex_sim not found: set TOLVEX_SIM or put it on PATH")
    return program


class Simulator:
    """A running tolvex_sim program and the port it serves."""

    def __init__(self, faults: Iterable[str] = (), states: Iterable[str] = (), instant: bool = True,
                 tcp: bool = sys.platform == "win32", args: Iterable[str] = (), **options):
        command = [sim_program()]
        if instant:
            command.append("--instant")
        if tcp:
            command += ["--listen", "127.0.0.1:0"]
        for rule in faults:
            command += ["--fault", rule]
        for state in states:
            if state not in STATE_SIGNALS:
                raise ValueError(f"lasting state {state!r}: one of {', '.join(STATE_SIGNALS)}")
            # Set on the first frame, before its command runs.
            command += ["--fault", f"all:{state}#1"]
        for name, value in options.items():
            if name not in _OPTIONS:
                raise TypeError(f"tolvex_sim has no parameter {name!r}")
            command += [_OPTIONS[name], str(value)]
        command += list(args)
        self.command = command
        self.baud = int(options.get("baud", 38400))
        self.process: Optional[subprocess.Popen] = None
        self.port = ""

    def start(self, wait: float = 10.0) -> "Simulator":
        # Standard error to a file: a trace could fill a pipe nobody reads.
        self._stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen(self.command, stdout=subprocess.PIPE, stderr=self._stderr)
        # The first line is the port; read on a thread so that a silent program times out
        # on every platform.
        lines: list[bytes] = []
        reader = threading.Thread(target=lambda: lines.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(wait)
        line = lines[0].decode().strip() if lines else ""
        if not line:
            self.stop()
            self._stderr.seek(0)
            err = self._stderr.read().decode(errors="replace")
            raise RuntimeError(f"{' '.join(self.command)} printed no port: {err.strip()}")
        self.port = line
        return self

    def signal(self, number: int) -> None:
        self.process.send_signal(number)

    def set_state(self, state: str) -> None:
        """Sets a lasting state (jam, nocartridge=S, empty=S, low=S) now."""
        self.signal(signal.SIGRTMIN + STATE_SIGNALS[state])

    def service(self) -> None:
        """An operator's visit: clears the transport, the capture box and every lasting state."""
        self.signal(signal.SIGUSR2)

    def take_card(self) -> None:
        """Takes a card waiting at the exit."""
        self.signal(signal.SIGUSR1)

    def stop(self) -> None:
        if self.process is None or self.process.poll() is not None:
            return
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()

    def __enter__(self) -> "Simulator":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()


def pytest_configure(config) -> None:
    config.addinivalue_line("markers", "tolvex_sim(**parameters): parameters of the tolvex_sim fixture's "
                            "simulated terminal (faults, states, instant, card_inside, tcp, ...)")


@pytest.fixture
def tolvex_sim(request):
    """A Terminal open on a simulated terminal that lasts for this test."""
    parameters = {}
    marker = request.node.get_closest_marker("tolvex_sim")
    if marker is not None:
        parameters.update(marker.kwargs)
    parameters.update(getattr(request, "param", None) or {})
    timeout = parameters.pop("timeout", None)
    simulator = Simulator(**parameters)
    simulator.start()
    try:
        terminal = Terminal(simulator.port, baud=simulator.baud, timeout=timeout)
        terminal.simulator = simulator
        with terminal:
            yield terminal
    finally:
        simulator.stop()
