"""The Python face end to end against the virtual PLC: values land in the PLC's memory,
each failure raises its own class, texts reach on_message, context managers close."""
import os
import threading
import time

import pytest

import kestova


@pytest.fixture
def plc():
    with kestova.VirtualPlc() as plc:
        yield plc


@pytest.fixture
def heard():
    return []


@pytest.fixture
def control(plc, heard, tmp_path):
    # Timeout 0 ends at the next whole second, which may be a millisecond away: 1 gives
    # every call at least a second, so no result depends on when the call started.
    with kestova.Tarvane(plc.port, timeout=1, log_dir=tmp_path) as control:
        control.on_message = heard.append
        yield control


def test_words_and_bits_reach_the_plc(plc, control, heard):
    plc.memory["D100"] = -2
    plc.memory["D101"] = 0x1234
    assert control.read("D100", 2) == [-2, 0x1234]
    control.write("d102", 0xFFFF)
    assert plc.memory["D102"] == -1
    control.write_block("W1A", [7, -8, 9])  # W is hexadecimal: W1A..W1C
    assert [plc.memory[d] for d in ("W1A", "W1B", "W1C", "W1D")] == [7, -8, 9, 0]
    control.set("M5")
    control.set("y1f")
    assert (plc.memory["M5"], plc.memory["Y1F"]) == (1, 1)
    control.reset("M5")
    assert plc.memory["M5"] == 0
    plc.memory["X1F1"] = 1
    plc.memory["X1FF"] = 1
    bits = control.read("x1f0", 1)
    assert bits == [0, 1] + [0] * 13 + [1]
    plc.memory["D7.3"] = 1
    assert plc.memory["D7"] == 8
    assert heard == []


def test_typed_values_reach_the_plc(plc, control):
    control.write_int32("D200", [-70000, 5])
    assert [plc.memory[f"D{n}"] for n in range(200, 204)] == [-4464, -2, 5, 0]  # 0xFFFEEE90, low word first
    assert control.read_int32("D200", 2) == [-70000, 5]
    control.write_uint16("ZR40000", 65535)
    assert control.read_uint16("ZR40000", 1) == [65535]
    assert control.read_int16("ZR40000", 1) == [-1]
    control.write_float("W10", [1.5, -0.25])
    assert control.read_float("W10", 2) == [1.5, -0.25]
    control.write_uint32("D300", 0x89ABCDEF)
    assert control.read_uint32("D300", 1) == [0x89ABCDEF]
    control.write_text("D400", "ABC")
    assert (plc.memory["D400"], plc.memory["D401"]) == (0x4241, 0x43)
    assert control.read_text("D400", 3) == "ABC"


@pytest.mark.parametrize("call, text", [
    (lambda c: c.read("D20001", 1), "D Address Invalid"),
    (lambda c: c.read("M0", 0), "Read Points Invalid, Should be from 1 to 480"),
    (lambda c: c.write_block("D0", []), "Write Points should be from 1 to 480"),
    (lambda c: c.write("D20001", 1), "D Address OverLimit"),
    (lambda c: c.set("M20001"), "M Address OverLimit"),
])
def test_refused_arguments_carry_the_controls_text(plc, control, heard, call, text):
    with pytest.raises(kestova.ArgumentError) as raised:
        call(control)
    assert (raised.value.result, str(raised.value), raised.value.messages) == (1, text, (text,))
    assert heard == [text]
    assert plc.request_count == 0


@pytest.mark.parametrize("call", [
    lambda c: c.read("Q5", 1),                # no such family
    lambda c: c.write("X0", 1),               # not a word family: the control's run-time error
    lambda c: c.write_int16("D0", 70000),     # the typed layer's refusal
    lambda c: c.read("D0.1", 1),              # a bit where words are read
])
def test_refusals_before_the_control_are_value_errors(plc, control, call):
    with pytest.raises(kestova.ArgumentError) as raised:
        call(control)
    assert isinstance(raised.value, ValueError) and raised.value.result is None
    assert plc.request_count == 0


def test_answers_that_fail_raise_their_own_class(plc, control, heard):
    plc.memory["D0"] = 5
    plc.fault("end_code", code=0x4031)
    with pytest.raises(kestova.EndCodeError) as raised:
        control.read("D0", 1)
    assert (raised.value.end_code, raised.value.result) == (0x4031, 0x4031)

    plc.fault("no_answer")
    with pytest.raises(kestova.TimeoutError) as raised:
        control.read("D0", 1)
    assert isinstance(raised.value, TimeoutError) and raised.value.result == 1
    assert heard == [str(raised.value)] and str(raised.value).startswith("TimeOut")

    # After an answer missed or refused the line is quiet for half a second before the
    # next request, inside the call's budget.
    plc.fault("end_code", code=0)  # "done" without the data asked for
    with pytest.raises(kestova.LengthError, match="Answer Length Error"):
        control.read("D0", 1)
    assert control.read("D0", 1) == [5]


def test_other_threads_run_while_a_call_waits(plc, control):
    plc.fault("no_answer")
    done = threading.Event()

    def wait_in_vain():
        with pytest.raises(kestova.TimeoutError):
            control.read("D0", 1)
        done.set()

    reader = threading.Thread(target=wait_in_vain)
    reader.start()
    while plc.request_count == 0:
        time.sleep(0.001)
    assert not done.is_set()
    reader.join()
    assert done.is_set()


def test_sum_check_fault_is_refused(tmp_path):
    with kestova.VirtualPlc(sum_check=True, faults={"bad_sum": 1}) as plc, \
         kestova.Tarvane(plc.port, sum_check=True, timeout=1, log_dir=tmp_path) as control:
        with pytest.raises(kestova.SumCheckError, match="SumCheck Error"):
            control.read("D0", 1)
        assert control.read("D0", 1) == [0]


def test_remote_operations_switch_the_cpu(plc, control):
    control.stop()
    assert not plc.running
    control.reset_cpu()
    control.run()
    assert plc.running
    with pytest.raises(kestova.EndCodeError):
        control.reset_cpu()  # a running CPU is not reset


def test_ports_close_with_their_blocks(tmp_path):
    with kestova.VirtualPlc() as plc:
        path = plc.port
        with kestova.Tarvane(path, log_dir=tmp_path) as control:
            assert control.is_open
        assert not control.is_open
        with pytest.raises(kestova.PortError) as raised:
            control.read("D0", 1)
        assert (raised.value.number, raised.value.result, str(raised.value)) == (8012, 1, "Port not Open")
    assert plc.port is None and not os.path.exists(path)
    with pytest.raises(kestova.PortError) as raised:
        kestova.Tarvane(path, log_dir=tmp_path).open()
    assert raised.value.number is not None and raised.value.result is None
