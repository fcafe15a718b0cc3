#!/usr/bin/env python3
"""Writes the sample firmware images of examples/: sample.hex and sample.tvk.

Both hold a made-up firmware: a vector table, a banner text and a deterministic
byte pattern, so that a download can be checked byte for byte against the file.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def firmware(length, seed):
    """length bytes: a little vector table, a banner, then a pseudo-random body."""
    state = seed
    body = bytearray()
    while len(body) < length:
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        body.append((state >> 16) & 0xFF)
    banner = b"tavboot sample firmware %d\0" % seed
    for i in range(8):
        body[4 * i:4 * i + 4] = (0x1100 + 0x40 * i).to_bytes(4, "little")
    body[64:64 + len(banner)] = banner
    return bytes(body)


def hex_record(rtype, offset, data):
    raw = bytes([len(data), offset >> 8, offset & 0xFF, rtype]) + data
    return ":" + (raw + bytes([(-sum(raw)) & 0xFF])).hex().upper()


def write_hex(path, start, data):
    lines = []
    for at in range(0, len(data), 16):
        lines.append(hex_record(0, start + at, data[at:at + 16]))
    lines.append(hex_record(1, 0, b""))
    with open(path, "w", newline="") as out:
        out.write("".join(line + "\r\n" for line in lines))


def write_tvk(path, platform, version, data):
    text = "TVK IMAGE 1.0\r\n"
    text += platform.ljust(16) + "\r\n"
    text += version.ljust(8, "x") + "\r\n"
    rows = [data[at:at + 32].hex().upper() for at in range(0, len(data), 32)]
    text += "\r\n".join(rows) + "\r\nL\r\n"
    with open(path, "w", newline="") as out:
        out.write(text)


def main():
    # Application code starts at 0x1000, right behind the bootloader.
    write_hex(os.path.join(HERE, "sample.hex"), 0x1000, firmware(12 * 1024, 1))
    # A memory image covers the device from address 0; the first 4096 bytes are never sent.
    image = bytes(4096) + firmware(10 * 1024, 2)
    write_tvk(os.path.join(HERE, "sample.tvk"), "TAV-SIM-PLATFORM", "HW 1.0", image)


if __name__ == "__main__":
    main()
