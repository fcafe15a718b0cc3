#!/usr/bin/env python3
"""Images for the Wine GUI tests, and the check of the simulated device's flash after a download.

  wine_images.py make DIR            writes small.hex, small.tvk, notes.bin and largest.hex
                                     (objcopy's HEX of the largest image, 249 pages) into DIR,
                                     and images of 4 pages each under names in other scripts
  wine_images.py check-log LOG FILE  every record of the run log names FILE and ended well
  wine_images.py pages HEX           the number of pages the loader sends for HEX
  wine_images.py check-flash FLASH HEX
      the flash (as the simulator writes it) must hold every page that the loader
      sends for HEX, and 0xFF everywhere else
"""
import json
import subprocess
import sys
from pathlib import Path

FIRST_OFFSET = 4096
PAGE = 1024
LARGEST_LENGTH = 259071
LONG_NAME = "测试" * 40 + "/" + "固件" * 20 + "/fw.hex"


def pattern(length, seed):
    state = seed
    out = bytearray()
    for _ in range(length):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def hex_record(rtype, offset, data):
    raw = bytes([len(data), offset >> 8, offset & 0xFF, rtype]) + data
    return ":" + (raw + bytes([(-sum(raw)) & 0xFF])).hex().upper() + "\r\n"


def hex_text(start, data):
    records = [hex_record(0, start + at, data[at:at + 16]) for at in range(0, len(data), 16)]
    return "".join(records) + hex_record(1, 0, b"")


def tvk_text(platform, version, data):
    rows = [data[at:at + 32].hex().upper() for at in range(0, len(data), 32)]
    return ("TVK IMAGE 1.0\r\n" + platform.ljust(16) + "\r\n" + version.ljust(8, "x") + "\r\n"
            + "\r\n".join(rows) + "\r\nL\r\n")


def decode_hex(text):
    """Image buffer and image length (end of the highest record) as the loader builds them (types 00, 01, 02)."""
    image = bytearray(260000)
    base = length = 0
    for line in text.splitlines():
        count, offset, rtype = int(line[1:3], 16), int(line[3:7], 16), int(line[7:9], 16)
        if rtype == 1:
            break
        if rtype == 2:
            base = int(line[9:13], 16) * 16
        elif rtype == 0:
            data = bytes.fromhex(line[9:9 + 2 * count])
            image[base + offset:base + offset + count] = data
            length = max(length, base + offset + count)
    return image, length


def make(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    # 3 KiB behind the bootloader: image length 7168, four pages.
    (folder / "small.hex").write_bytes(hex_text(FIRST_OFFSET, pattern(3 * PAGE, 7)).encode())
    image = bytes(FIRST_OFFSET) + pattern(2 * PAGE, 9)
    (folder / "small.tvk").write_bytes(tvk_text("TAV-SIM-PLATFORM", "HW 1.0", image).encode())
    (folder / "notes.bin").write_bytes(b"not an image\r\n")
    (folder / "largest.bin").write_bytes(pattern(LARGEST_LENGTH - FIRST_OFFSET, 13))
    # fw_r.hex beside fw_ř.hex: a best-fit name would pick the other image.
    # The last one: 139 characters, 379 bytes in UTF-8.
    names = ["names/fw_ř.hex", "names/fw_r.hex", "Δοκιμή/fw.hex", "测试/fw.hex", LONG_NAME]
    for seed, name in enumerate(names, 21):
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(hex_text(FIRST_OFFSET, pattern(3 * PAGE, seed)).encode())
    subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", "--change-addresses", hex(FIRST_OFFSET),
                    str(folder / "largest.bin"), str(folder / "largest.hex")], check=True)


def page_count(length):
    return ((length - FIRST_OFFSET) >> 10) + 1


def check_flash(flash_path, hex_path):
    flash = Path(flash_path).read_bytes()
    image, length = decode_hex(Path(hex_path).read_text())
    pages = page_count(length)
    end = FIRST_OFFSET + pages * PAGE
    problems = []
    if flash[FIRST_OFFSET:end] != bytes(image[FIRST_OFFSET:end]):
        problems.append("pages differ from the image")
    if any(b != 0xFF for b in flash[:FIRST_OFFSET]) or any(b != 0xFF for b in flash[end:]):
        problems.append("flash written outside the pages")
    print("flash: %d pages, %s" % (pages, "; ".join(problems) or "equal to the image"))
    return 1 if problems else 0


def check_log(log_path, file_name):
    records = [json.loads(line) for line in Path(log_path).read_text(encoding="utf-8").splitlines()]
    problems = ["record %d: file %r, result %r" % (i, r["file"], r["result"])
                for i, r in enumerate(records) if r["file"] != file_name or r["result"] != "ok"]
    print("log: %d records, %s" % (len(records), "; ".join(problems) or "as run"))
    return 1 if problems or not records else 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == "pages":
        print(page_count(decode_hex(Path(sys.argv[2]).read_text())[1]))
        return 0
    if len(sys.argv) == 4 and sys.argv[1] == "check-log":
        return check_log(sys.argv[2], sys.argv[3])
    if len(sys.argv) == 4 and sys.argv[1] == "check-flash":
        return check_flash(sys.argv[2], sys.argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
