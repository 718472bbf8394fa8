#!/usr/bin/env python3
"""Writes the seed corpora from the worked examples: answers for the answer reader,
requests for the virtual PLC's decoder, and WriteBlock calls laid out the way the block
write target's data provider reads them. Run from anywhere; files go next to this one."""

import pathlib

HERE = pathlib.Path(__file__).resolve().parent / "corpus"
ROUTING = [0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x00]


def stuffed(body):
    out = []
    for b in body:
        out.append(b)
        if b == 0x10:
            out.append(0x10)
    return out


def sum_chars(body):
    return list(b"%02X" % (sum(body) & 0xFF))


def answer(end_code, data, sum_check):
    fields = [0xF8] + ROUTING + [0xFF, 0xFF, end_code & 0xFF, end_code >> 8] + data
    body = [len(fields) & 0xFF, len(fields) >> 8] + fields
    wire = [0x10, 0x02] + stuffed(body) + [0x10, 0x03]
    return wire + (sum_chars(body) if sum_check else [])


def request(count_field, command, subcommand, data, sum_check):
    body = [count_field & 0xFF, count_field >> 8, 0xF8] + ROUTING + [
        command & 0xFF, command >> 8, subcommand & 0xFF, subcommand >> 8] + data
    wire = [0x10, 0x02] + body[:3] + stuffed(body[3:]) + [0x10, 0x03]
    return wire + (sum_chars(body) if sum_check else [])


def write(folder, name, data):
    (HERE / folder).mkdir(parents=True, exist_ok=True)
    (HERE / folder / name).write_bytes(bytes(data))


# Answer reader: flags (bit 0 sum check), length limit (two bytes), chunk seed, line bytes.
def reader_seed(name, sum_check, limit, chunk_seed, line):
    write("answer_reader", name, [1 if sum_check else 0, limit & 0xFF, limit >> 8, chunk_seed] + line)


read_d100 = answer(0, [0x34, 0x12, 0xCD, 0xAB], True)  # count field 0x10: doubled on the wire
reader_seed("read_d100_two_words_sum", True, 24 + 32, 7, read_d100)
reader_seed("read_d100_two_words", False, 22 + 32, 1, answer(0, [0x34, 0x12, 0xCD, 0xAB], False))
reader_seed("error_answer_4031", False, 18 + 32, 3, answer(0x4031, [], False))
reader_seed("write_ack_sum", True, 20 + 32, 0, answer(0, [], True))
reader_seed("data_with_dle", True, 20 + 8 + 32, 19, answer(0, [0x10, 0x10, 0x00, 0x10], True))
reader_seed("noise_around", True, 24 + 32, 33, [0x55, 0xAA, 0x03, 0x02] + read_d100 + [0x10, 0x02, 0x00])
reader_seed("sum_missing", True, 24 + 32, 5, read_d100[:-2])
reader_seed("bad_sum", True, 24 + 32, 63, read_d100[:-1] + [0x30])
reader_seed("broken_then_good", False, 22 + 32, 2,
            [0x10, 0x02, 0x12, 0x10, 0x05] + answer(0, [0x34, 0x12, 0xCD, 0xAB], False))
# A frame broken off mid-data whose rest holds 10 10 02 and a whole false answer: no start.
reader_seed("broken_with_dle_dle_stx", False, 22 + 32, 9,
            [0x10, 0x02, 0x0C, 0x00, 0xF8, 0x10, 0x41, 0x10] + answer(0x4031, [], False) +
            answer(0, [0x34, 0x12, 0xCD, 0xAB], False))
reader_seed("noise_dle_dle_stx_sum", True, 24 + 32, 17,
            [0x55, 0x10] + answer(0xC059, [0x01, 0x02], True) + read_d100)
reader_seed("odd_dle_run_starts", False, 22 + 32, 4,
            [0x10, 0x10] + answer(0, [0x34, 0x12, 0xCD, 0xAB], False))

# Request decoder: flags (bit 0 sum check, bits 4-7 sum give-up), then line bytes.
def decoder_seed(name, sum_check, line):
    write("request_decoder", name, [1 if sum_check else 0] + line)


decoder_seed("read_d100_2_sum", True, request(0, 0x0401, 0, [0x64, 0, 0, 0xA8, 2, 0], True))
decoder_seed("write_d100_5", False, request(0, 0x1401, 0, [0x64, 0, 0, 0xA8, 1, 0, 5, 0], False))
decoder_seed("write_d16_4096", True, request(0, 0x1401, 0, [0x10, 0, 0, 0xA8, 1, 0, 0x00, 0x10], True))
decoder_seed("reset_m0", False, request(0x13, 0x1402, 1, [1, 0, 0, 0, 0x90, 0], False))
decoder_seed("block_d100_1_2_sum", True, request(0, 0x1401, 0, [0x64, 0, 0, 0xA8, 2, 0, 1, 0, 2, 0], True))
decoder_seed("block_zr16_1010_sum", True, request(0, 0x1401, 0, [0x10, 0, 0, 0xB0, 1, 0, 0x10, 0x10], True))
decoder_seed("remote_run_sum", True, request(0, 0x1001, 0, [1, 0, 1, 0], True))
decoder_seed("remote_stop_then_reset", False,
             request(0, 0x1002, 0, [1, 0], False) + request(0, 0x1006, 0, [1, 0], False))
decoder_seed("read_x0_then_bad_sum", True,
             request(0, 0x0401, 0, [0, 0, 0, 0x9C, 1, 0], True)[:-1] + [0x5A] +
             request(0, 0x0401, 0, [0, 0, 0, 0x9C, 1, 0], True))


# Block write: the data provider takes numbers from the end of the input (first taken is
# last in the file, most significant byte first) and the device text from the front.
def block_seed(name, device, points, values, sum_check=True, lower_bound=0, station=0):
    taken = []

    def integral(value, low, width):
        offset = value - low
        taken.extend((offset >> (8 * (width - 1 - i))) & 0xFF for i in range(width))

    integral(1 if sum_check else 0, 0, 1)
    integral(0, 0, 1)                   # points from the short range
    integral(points, -1, 2)
    integral(0, 0, 1)                   # lower bound from the short range
    integral(lower_bound, -2, 1)
    integral(1, 0, 1)                   # one dimension
    integral(station, -1, 2)
    integral(len(values), 0, 2)
    for v in values:
        integral(v & 0xFFFF ^ 0x8000, 0, 2)   # int16 across its whole range
    text = list(device.encode()) + [ord("\\"), ord("x")]
    elements_and_numbers = list(reversed(taken))
    write("block_write", name, text + elements_and_numbers)


block_seed("d100_two_words", "D100", 2, [1, 2])
block_seed("zr16_dle_word", "ZR16", 1, [0x1010])
block_seed("d19521_480_last_device", "D19521", 480, [7] * 480, sum_check=False)
block_seed("w0_minus_one", "w0", 1, [-1])
block_seed("d_blank_number", "D 100 ", 1, [32767])
block_seed("decimal_point_refused", "D10.5", 1, [5])
block_seed("x12_prefix_refused", "X12", 1, [5])
block_seed("lower_bound_one", "D0", 2, [1, 2, 3], lower_bound=1)
