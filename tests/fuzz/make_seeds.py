#!/usr/bin/env python3
"""Writes the reply collector's seed inputs into corpus/ (see reply_collector_fuzz.cpp for
the layout). Inputs the fuzzer found are kept in the same folder under their own names."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")

START, END, ESC = 0x0F, 0x0D, 0xFE
REQUEST_POINT = bytes([ESC, 0xFC])
NEXT = bytes([ESC, 0xFD])
UPPER_CHECK = bytes([ESC, 0xFB])  # the harness fills in the check digits
LOWER_CHECK = bytes([ESC, 0xFA])

# Operations of the settings byte.
SERIAL, VERSION, CUSTOMER, BAUD, CLEAR, RAW_S01, LONG, EMPTY = range(8)


def settings(op, wrap=False, byte_ms=0, variant=0):
    return bytes([op | (8 if wrap else 0) | (byte_ms << 4) | (variant << 6)])


def check(text):
    c = START
    for b in text:
        c ^= b
    return b"%02X" % c


def frame(text, digits=None):
    return bytes([START]) + text + (check(text) if digits is None else digits) + bytes([END])


def esc(data):
    return data.replace(bytes([ESC]), bytes([ESC, ESC]))


def quiet(ms):
    out = b""
    while ms > 0:
        step = min(ms, 0xF9)
        out += bytes([ESC, step])
        ms -= step
    return out


SEEDS = {
    "worked_s01_frame": settings(RAW_S01) + bytes.fromhex("0F53303135440D"),
    "serial_good": settings(SERIAL) + frame(b"S01ABCDEFGH"),
    "serial_14_bytes": settings(SERIAL) + frame(b"S01ABCDEFG"),
    "serial_16_bytes": settings(SERIAL) + frame(b"S01ABCDEFGHI"),
    "empty_text_good": settings(EMPTY) + bytes.fromhex("0F30460D"),
    "empty_text_lower_case": settings(EMPTY) + bytes.fromhex("0F30660D"),
    # Check letters in the low digit ("3A"), the high digit ("B9") and both ("BD").
    "lower_case_low_digit": settings(SERIAL) + frame(b"S01K7-00042", check(b"S01K7-00042").lower()),
    "lower_case_high_digit": settings(SERIAL) + frame(b"S01ABCDEFG\xa4", check(b"S01ABCDEFG\xa4").lower()),
    "lower_case_both_digits": settings(SERIAL) + frame(b"S01ABCDEFG\xa0", check(b"S01ABCDEFG\xa0").lower()),
    "upper_case_both_digits": settings(SERIAL) + frame(b"S01ABCDEFG\xa0"),
    "harness_check_digits": settings(CUSTOMER) + b"\x0fG06\xc4\xa3\xb0" + UPPER_CHECK + b"\r"
        + NEXT + settings(VERSION) + b"\x0fV01\xe9" + LOWER_CHECK + b"\r",
    "bad_check": settings(SERIAL) + frame(b"S01ABCDEFGH", b"00"),
    "stray_bytes_first": settings(SERIAL) + b"\x00\x41\x0d\x42\x80" + frame(b"S0112345678"),
    "two_start_bytes": settings(SERIAL) + bytes([START]) + frame(b"S0112345678"),
    "end_byte_in_text": settings(VERSION) + bytes([START]) + b"V01" + bytes([END]) + b"12" + frame(b"V01"),
    "zero_in_text": settings(CUSTOMER) + frame(b"G06AB\x00CD"),
    "eight_bit_text": settings(CUSTOMER) + esc(frame(b"G06" + bytes(range(0x80, 0x100, 5)))),
    "version_short": settings(VERSION) + frame(b"V011.2"),
    "version_no_value": settings(VERSION) + frame(b"V"),
    "customer_short": settings(CUSTOMER) + frame(b"G06ACME"),
    "customer_full": settings(CUSTOMER) + frame(b"G06" + b"*" * 30 + b"tail"),
    "wrap_then_frame": settings(RAW_S01) + bytes([START]) + b"A" * 1023 + b"12\r" + frame(b"S01ABCDEFGH"),
    "frame_of_1024": settings(RAW_S01) + frame(b"B" * 1020),
    "frame_of_1023": settings(RAW_S01) + frame(b"B" * 1019),
    "late_reply_waiting": settings(SERIAL) + frame(b"S01OLDREPLY") + REQUEST_POINT,
    "late_reply_then_reply": settings(SERIAL) + b"\x0fS01OLD" + REQUEST_POINT + frame(b"S01NEWREPLY"),
    "streaming_device": settings(RAW_S01, byte_ms=1) + b"U" * 600,
    "quiet_then_reply": settings(VERSION) + quiet(240) + frame(b"V0112.34-56"),
    "reply_too_late": settings(VERSION) + quiet(251) + frame(b"V0112.34-56"),
    "clock_wraps_in_wait": settings(SERIAL, wrap=True, variant=2) + quiet(100) + frame(b"S01ABCDEFGH"),
    "clock_wraps_time_out": settings(SERIAL, wrap=True, variant=3),
    "clock_wraps_in_request": settings(CUSTOMER, wrap=True) + frame(b"G06WRAP"),
    "command_of_256": settings(LONG) + frame(b"OK"),
    "command_of_255": settings(LONG, variant=1) + frame(b"OK"),
    "baud_rate_reply": settings(BAUD, variant=2) + frame(b"E01"),
    "clear_reply": settings(CLEAR) + frame(b"F06"),
    "second_frame_waits_for_next": settings(SERIAL) + frame(b"S01ABCDEFGH") + frame(b"V01LEFTOVER")
        + NEXT + settings(VERSION),
    # Frames that answer another request are passed over; the wait goes on for this one's reply.
    "other_request_then_reply": settings(VERSION) + frame(b"S0112345678") + frame(b"V0103.20-01"),
    "other_requests_only": settings(CUSTOMER) + frame(b"V0103.20-01") + frame(b"E015") + frame(b"F06"),
    "other_request_bad_check": settings(RAW_S01) + frame(b"G06ACME", b"00") + frame(b"S01ABCDEFGH"),
    "good_then_time_out": settings(CUSTOMER) + frame(b"G06KEEPME") + NEXT + settings(CUSTOMER)
        + NEXT + settings(VERSION, byte_ms=2) + b"\x0f" + b"x" * 200,
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, "seed_" + name), "wb") as f:
            f.write(data)
    print("wrote %d seeds to %s" % (len(SEEDS), OUT))


if __name__ == "__main__":
    main()
