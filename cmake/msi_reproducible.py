#!/usr/bin/env python3
"""Makes a package built by wixl the same bytes in every build: the
creation and save times in its summary information (the time of the build)
become one fixed time, and its package code (a fresh random GUID) one made
from the package's contents, so that another package still gets another
code.

    msi_reproducible.py FILE
"""
import hashlib
import re
import sys
import time

# FILETIME: 100 ns ticks since 1601-01-01.
EPOCH_OFFSET = 11644473600
FIXED = (946684800 + EPOCH_OFFSET) * 10**7  # 2000-01-01 00:00 UTC
VT_FILETIME = b"\x40\x00\x00\x00"
# The revision number property: VT_LPSTR of 39 bytes, "{GUID}" and NUL.
PACKAGE_CODE = re.compile(rb"\x1e\x00\x00\x00\x27\x00\x00\x00(\{[0-9A-F-]{36}\})\x00")


def fail(text):
    sys.exit("msi_reproducible: " + text)


def main(path):
    data = bytearray(open(path, "rb").read())
    now = (int(time.time()) + EPOCH_OFFSET) * 10**7
    day = 86400 * 10**7
    times = 0
    at = data.find(VT_FILETIME)
    while at >= 0:
        value = int.from_bytes(data[at + 4:at + 12], "little")
        # Only a property written by this build: its value is "now".
        if now - 2 * day < value < now + day:
            data[at + 4:at + 12] = FIXED.to_bytes(8, "little")
            times += 1
        at = data.find(VT_FILETIME, at + 1)
    codes = list(PACKAGE_CODE.finditer(data))
    if times == 0 or len(codes) != 1:
        fail("%s: not the summary information wixl writes" % path)
    start, end = codes[0].span(1)
    data[start:end] = b"{00000000-0000-0000-0000-000000000000}"
    h = hashlib.sha256(data).hexdigest().upper()
    code = "{%s-%s-%s-%s-%s}" % (h[0:8], h[8:12], h[12:16], h[16:20], h[20:32])
    data[start:end] = code.encode()
    with open(path, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
