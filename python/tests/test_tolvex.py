"""The Python package against the simulated terminal, through its own pytest fixture."""
import datetime
import inspect
import os
import re
import threading
import time
from pathlib import Path

import pytest

import tolvex
from tolvex import decode
from tolvex._library import candidates


def test_command_answers_with_its_response(tolvex_sim):
    model = tolvex_sim.model()
    assert model.ok and model.status == 0 and model.words is None
    assert 1 <= model.prc_no <= 255
    assert isinstance(model.data, bytes) and model.data.startswith(b"TOLVEX-SIM")
    # The raw command gives the same reply with the next process number.
    raw = tolvex_sim.exe_cmd("C11")
    assert raw.data == model.data
    assert raw.prc_no == model.prc_no % 255 + 1


@pytest.mark.tolvex_sim(faults=["C11:status=0x2005", "C13:status=0x2004"])
def test_negative_answer_raises_terminal_error_with_the_words(tolvex_sim):
    for call, status, words in ((tolvex_sim.model, 0x2005, "No cards."),
                                (tolvex_sim.chk_stacker, 0x2004, tolvex.result_text(0x2004))):
        with pytest.raises(tolvex.TerminalError) as caught:
            call()
        error = caught.value
        assert (error.result, error.status, error.words) == (2000, status, words)
        assert error.response.data == status.to_bytes(2, "big")
        assert words in str(error)
    # The failures leave the terminal usable.
    assert tolvex_sim.fw_version().ok


@pytest.mark.tolvex_sim(faults=["C12:late=1500#1"])
def test_late_reply_is_given_up_by_the_callers_time_out(tolvex_sim):
    with pytest.raises(tolvex.TolvexError) as caught:
        tolvex_sim.fw_version(timeout=0.2)
    assert not isinstance(caught.value, tolvex.TerminalError)
    assert caught.value.result == 102
    assert caught.value.words == tolvex.result_text(102)
    # The next command gets its own outcome, not the late reply.
    assert tolvex_sim.read_model().startswith("TOLVEX-SIM")


@pytest.mark.parametrize("tolvex_sim, check", [
    ({"states": ["empty=1"]},
     lambda t: t.read_stackers() == (tolvex.Stacker.EMPTY, tolvex.Stacker.GOOD)),
    ({"states": ["nocartridge=2"]},
     lambda t: t.read_stackers() == (tolvex.Stacker.GOOD, tolvex.Stacker.NO_CARTRIDGE)),
    ({"faults": ["C11:status=0x2203#2"]},
     lambda t: t.model().ok and pytest.raises(tolvex.TerminalError, t.model).value.status == 0x2203),
    ({"tcp": True}, lambda t: t.port.startswith("socket://127.0.0.1:") and t.model().ok),
], indirect=["tolvex_sim"])
def test_fixture_parameters_reach_the_simulator(tolvex_sim, check):
    assert check(tolvex_sim)


@pytest.mark.parametrize("tolvex_sim", [{"states": ["jam"]}], indirect=True)
def test_lasting_state_and_service(tolvex_sim):
    with pytest.raises(tolvex.TerminalError) as caught:
        tolvex_sim.card_stk_mov(1, 1)
    assert caught.value.status == 0x2004
    # Signals are taken on the simulator's own thread: wait for each to show.
    good, low = tolvex.Stacker.GOOD, tolvex.Stacker.WARNING
    tolvex_sim.simulator.set_state("low=2")
    assert eventually(lambda: tolvex_sim.read_stackers() == (good, low))
    tolvex_sim.simulator.service()  # clears the jam and the near-empty stacker
    assert eventually(lambda: tolvex_sim.read_stackers() == (good, good))
    assert tolvex_sim.card_stk_mov(1, 1).ok


def eventually(condition, seconds=5.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


@pytest.mark.tolvex_sim(card_inside="rf")
def test_decoders_on_real_replies(tolvex_sim):
    assert tolvex_sim.read_model() == decode.text(tolvex_sim.model().data)
    assert re.fullmatch(r"[ -~]+", tolvex_sim.read_version())
    assert tolvex_sim.read_stackers() == (tolvex.Stacker.GOOD, tolvex.Stacker.GOOD)
    inside = tolvex_sim.read_card_position()
    assert inside and inside == tolvex.Sensors(tolvex_sim.card_position().data[0])
    tolvex_sim.card_eject()
    assert tolvex_sim.read_card_position() != inside

    when = datetime.datetime(2031, 7, 19, 23, 59, 30)
    tolvex_sim.write_clock(when)
    read = tolvex_sim.read_clock()
    assert datetime.timedelta(0) <= read - when <= datetime.timedelta(seconds=5)
    assert decode.clock(decode.clock_bytes(when)) == when
    with pytest.raises(ValueError):
        decode.clock(bytes.fromhex("20 31 13 1A 00 00 00"))


def test_every_command_export_has_its_generated_method():
    table = Path(os.environ["TOLVEX_EXPORT_TABLE"]).read_text()
    rows = re.findall(r'^TOLVEX_EXPORT\(\d+, (\w+), "([^"]*)", "([^"]*)"', table, re.M)
    commands = [(name, args) for name, args, code in rows if code or name == "exe_cmd"]
    assert len(commands) > 60
    assert tolvex.command_names() == tuple(name for name, _ in commands)
    for name, args in commands:
        method = getattr(tolvex.Terminal, name)
        parameters = list(inspect.signature(method).parameters.values())
        assert [p.name for p in parameters] == ["self"] + [a.split(":")[0] for a in args.split()] + ["timeout"]
        assert parameters[-1].kind is inspect.Parameter.KEYWORD_ONLY
        hints = {"u8": "int", "u32": "int", "i32": "int", "int": "int", "str": "str"}
        for parameter, arg in zip(parameters[1:], args.split()):
            kind = arg.split(":")[1]
            expected = hints.get(kind, "bytes")
            # A number the bench has names for takes the names too.
            allowed = (expected, "int | str") if expected == "int" else (expected,)
            assert parameter.annotation in allowed, (name, arg)
        assert method.__doc__ and method.__doc__.strip(), name
    assert inspect.signature(tolvex.Terminal.card_stk_mov).parameters["destination"].annotation == "int | str"


def test_the_benchs_names_stand_for_their_values(tolvex_sim):
    # "rf" and "Stacker1" are the numbers 3 and 1: the card goes to the antenna.
    assert tolvex_sim.card_stk_mov("Stacker1", "rf").ok
    assert tolvex_sim.mi_det().ok
    tolvex_sim.card_capture()
    assert tolvex_sim.card_stk_mov(1, "MS").ok
    with pytest.raises(tolvex.TerminalError):
        tolvex_sim.mi_det()  # at the magnetic head, no card is at the antenna
    with pytest.raises(ValueError, match="none of the names"):
        tolvex_sim.card_mov("antenna")


def test_arguments_and_port_failures_are_caught():
    terminal = tolvex.Terminal("/nonexistent/ttyTVX")
    with pytest.raises(tolvex.PortError) as caught:
        terminal.open()
    assert "/nonexistent/ttyTVX" in caught.value.words
    for call, error in ((lambda: terminal.mi_wt_blk(1, 0, bytes(17)), ValueError),
                        (lambda: terminal.card_mov(256), ValueError),
                        (lambda: terminal.mi_bal_inc(1, 1, 2**31), ValueError),
                        (lambda: terminal.ic_exe("00A4"), TypeError),
                        (lambda: tolvex.Terminal("x", parity="sometimes"), ValueError)):
        with pytest.raises(error):
            call()


def test_library_is_found_by_the_search_rules(tmp_path):
    # The Windows zip's layout: python/tolvex beside bin/tolvex.dll.
    package = tmp_path / "python" / "tolvex"
    assert tmp_path / "bin" / "tolvex.dll" in candidates(package, {}, "win32")
    assert candidates(package, {"TOLVEX_LIBRARY": "/x/lib.so"}, "linux")[0] == Path("/x/lib.so")
    assert package / "libtolvex.so.1" in candidates(package, {}, "linux")


@pytest.mark.tolvex_sim(card_inside="rf")
def test_bytes_go_out_and_come_back(tolvex_sim):
    # A short fixed block is zero-filled; the block read back starts after sector and block.
    tolvex_sim.mi_wt_blk(1, 2, b"\x01\x02tolvex")
    assert tolvex_sim.mi_rd_blk(1, 2).data[2:18] == b"\x01\x02tolvex".ljust(16, b"\0")
    echo = tolvex_sim.exe_cmd("R31", bytes([1, 2]))
    assert echo.data[2:10] == b"\x01\x02tolvex"


def test_calls_from_several_threads_are_taken_in_turn(tolvex_sim):
    results, errors = [], []

    def run():
        try:
            for _ in range(10):
                results.append(tolvex_sim.read_model())
        except Exception as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=run) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == [] and len(results) == 40 and len(set(results)) == 1
