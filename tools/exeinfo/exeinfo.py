#!/usr/bin/env python3
"""Reads a Ravenstock_Setup.exe as data; nothing of it runs.

  exeinfo.py describe EXE    what a build carries: web host, pins, payload,
                             licence, version, signature
  exeinfo.py resources EXE   the user-visible resources as stable text, the
                             same for every build of one source tree

Exit codes: 0 done; 1 described, but the exe would refuse its own payload or
pins; 2 usage, or not a bootstrapper of this project. Every offset and length
comes from the file and is checked, and every text is printed with control
characters escaped, so a name in a hostile archive cannot forge a line.
"""
import re
import struct
import sys
import zlib

RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING = 2, 3, 5, 6
RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 10, 14, 16, 24
TYPES = {RT_BITMAP: "BITMAP", RT_ICON: "ICON", RT_DIALOG: "DIALOG", RT_STRING: "STRING",
         RT_RCDATA: "RCDATA", RT_GROUP_ICON: "GROUP_ICON", RT_VERSION: "VERSION",
         RT_MANIFEST: "MANIFEST"}
DIALOG, ICON_GROUP, BITMAP, LICENCE, PAYLOAD, PINS = 102, 128, 129, 148, 154, 155
WEB_HOST, MANUAL_URL, MANUAL_PATH = 302, 304, "/downloads/framework.net.1.1.htm"
HOST = re.compile(r"([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\.)*"
                  r"[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?")


class NotOurs(Exception):
    pass


def clean(text):
    return "".join(c if " " <= c != "\x7f" else "\\x%02x" % ord(c) for c in text)


def unpack(data, at, fmt, what="the PE headers"):
    if at < 0 or at + struct.calcsize("<" + fmt) > len(data):
        raise NotOurs("%s are cut short" % what)
    return struct.unpack_from("<" + fmt, data, at)


class Blob:
    """A cursor over bytes; a read past the end raises NotOurs."""

    def __init__(self, data, what):
        self.data, self.at, self.what = data, 0, what

    def take(self, n):
        if n < 0 or self.at + n > len(self.data):
            raise NotOurs("%s is cut short" % self.what)
        self.at += n
        return self.data[self.at - n:self.at]

    def u(self, fmt):
        values = struct.unpack("<" + fmt, self.take(struct.calcsize("<" + fmt)))
        return values[0] if len(values) == 1 else values

    def align(self):
        self.take(-self.at % 4)

    def sz(self):
        chars = []
        while (c := self.u("H")) != 0:
            chars.append(chr(c))
        return "".join(chars)

    def sz_or_ord(self):
        if self.u("H") == 0xFFFF:
            return "#%d" % self.u("H")
        self.at -= 2
        return '"%s"' % clean(self.sz())


class Exe:
    def __init__(self, data):
        if data[:2] != b"MZ":
            raise NotOurs("not a Windows executable (no MZ header)")
        (pe,) = unpack(data, 0x3C, "I")
        if unpack(data, pe, "4s")[0] != b"PE\0\0":
            raise NotOurs("not a Windows executable (no PE signature)")
        machine, sections, _, _, _, optsize, _ = unpack(data, pe + 4, "HHIIIHH")
        opt = pe + 24
        if machine != 0x14C or unpack(data, opt, "H")[0] != 0x10B:
            raise NotOurs("not a 32-bit x86 PE32 executable")
        (count,) = unpack(data, opt + 92, "I")
        dirs = [unpack(data, opt + 96 + 8 * i, "II") for i in range(min(count, 16))]
        dirs += [(0, 0)] * (16 - len(dirs))
        self.data, self.resources, self.leaves = data, {}, 0
        self.sections = [unpack(data, opt + optsize + 40 * i + 8, "IIII") for i in range(sections)]
        self.security = dirs[4]  # a file offset, unlike every other directory
        if dirs[2][1]:
            self.base = self.offset(dirs[2][0])
            self.walk(self.base, 0, ())

    def offset(self, rva):
        for vsize, vaddr, rawsize, rawptr in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        raise NotOurs("address 0x%x lies in no section" % rva)

    def walk(self, at, depth, path):
        """Type, name and language levels of the resource tree, into
        self.resources[(type, name)][language] = bytes."""
        named, ids = unpack(self.data, at + 12, "HH", "resource directories")
        for i in range(named + ids):
            key, child = unpack(self.data, at + 16 + 8 * i, "II", "resource directories")
            if key & 0x80000000:
                name_at = self.base + (key & 0x7FFFFFFF)
                (n,) = unpack(self.data, name_at, "H", "resource names")
                key = self.data[name_at + 2:name_at + 2 + 2 * n].decode("utf-16-le", "replace")
            target = self.base + (child & 0x7FFFFFFF)
            if depth < 2 and child & 0x80000000:
                self.walk(target, depth + 1, path + (key,))
                continue
            # Directories may share children: a few bytes could name billions.
            self.leaves += 1
            if depth < 2 or child & 0x80000000 or self.leaves > 10000:
                raise NotOurs("the resource tree is malformed")
            rva, size, _, _ = unpack(self.data, target, "IIII", "resource entries")
            start = self.offset(rva)
            if start + size > len(self.data):
                raise NotOurs("a resource runs past the end of the file")
            self.resources.setdefault(path, {})[key] = self.data[start:start + size]

    def get(self, rtype, name):
        """The resource's bytes when it exists once; None otherwise."""
        langs = self.resources.get((rtype, name), {})
        return next(iter(langs.values())) if len(langs) == 1 else None

    def strings(self):
        table = {}
        for (rtype, block), langs in self.resources.items():
            for data in langs.values() if rtype == RT_STRING and isinstance(block, int) else ():
                b = Blob(data, "string block %d" % block)
                for i in range(16):
                    text = b.take(2 * b.u("H")).decode("utf-16-le", "replace")
                    if text:
                        table[(block - 1) * 16 + i] = text
        return table

    def signer(self):
        """The signer's subject; None when there is no certificate table."""
        at, size = self.security
        if size == 0:
            return None
        if size < 8 or at + size > len(self.data):
            return "(a certificate table that runs past the end of the file)"
        length, _, kind = unpack(self.data, at, "IHH")
        if kind != 2 or not 8 < length <= size:
            return "(no PKCS#7 signature in the certificate table)"
        return signer_subject(self.data[at + 8:at + length])


# ------------------------------------------------------------ signature

def element(data, start, end):
    """(tag, start, end of the contents) of the DER element at start."""
    tag, n, at = data[start], data[start + 1], start + 2
    if n & 0x80:
        n, at = int.from_bytes(data[at:at + (n & 0x7F)], "big"), at + (n & 0x7F)
    if at + n > end:
        raise IndexError
    return tag, at, at + n


def der(data, start, end):
    """Each DER element between start and end."""
    items = []
    while start < end:
        items.append(element(data, start, end))
        start = items[-1][2]
    return items


NAME_KEYS = {"550403": "CN", "55040a": "O", "55040b": "OU", "550406": "C", "550407": "L",
             "550408": "ST", "2a864886f70d010901": "emailAddress"}


def name_text(data, name):
    parts = []
    for rdn in der(data, *name[1:]):
        for attr in der(data, *rdn[1:]):
            (_, os_, oe), (tag, vs, ve) = der(data, *attr[1:])[:2]
            codec = "utf-16-be" if tag == 0x1E else "utf-8"  # BMPString or the others
            key = data[os_:oe].hex()
            parts.append("%s=%s" % (NAME_KEYS.get(key, key), clean(data[vs:ve].decode(codec, "replace"))))
    return ", ".join(parts)


def signer_subject(p7):
    """A signer is named by issuer and serial number. Its certificate is the
    one with both; DER sorts the certificates, so it need not be the first."""
    try:
        # The table pads the signature to 8 bytes: only its first element counts.
        content = der(p7, *element(p7, 0, len(p7))[1:])[1]  # [0] EXPLICIT SignedData
        fields = der(p7, *der(p7, *content[1:])[0][1:])
        signer = der(p7, *der(p7, *fields[-1][1:])[0][1:])
        issuer, serial = (p7[s:e] for _, s, e in der(p7, *signer[1][1:])[:2])
        for _, s, e in [c for f in fields if f[0] == 0xA0 for c in der(p7, *f[1:])]:
            tbs = der(p7, *der(p7, s, e)[0][1:])
            tbs = tbs[1:] if tbs[0][0] == 0xA0 else tbs  # the optional version
            if (p7[tbs[2][1]:tbs[2][2]], p7[tbs[0][1]:tbs[0][2]]) == (issuer, serial):
                return name_text(p7, tbs[4])
        return "(the signer's certificate is not in the signature)"
    except (IndexError, ValueError):
        return "(an unreadable signature)"


# ------------------------------------------------------------ describe

def version_lines(data):
    if data is None:
        return ["version: none"]

    def node(b, end):  # (key, value, children) of VS_VERSIONINFO and below
        start = b.at
        length, value_length, is_text = b.u("3H")
        key = b.sz()
        b.align()
        value, kids, stop = b.take(value_length * (2 if is_text else 1)), [], min(start + length, end)
        while b.at + (-b.at % 4) < stop:
            b.align()
            kids.append(node(b, stop))
        b.at = max(b.at, stop)  # a node shorter than its header must not be read again
        return clean(key), value, kids

    _, fixed, blocks = node(Blob(data, "the version information"), len(data))
    if len(fixed) < 52 or struct.unpack_from("<I", fixed)[0] != 0xFEEF04BD:
        return ["version: no fixed file information"]
    f = struct.unpack_from("<13I", fixed)
    dotted = [("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
              for ms, ls in ((f[2], f[3]), (f[4], f[5]))]
    lines = ["version: file %s, product %s, flags 0x%x of 0x%x, os 0x%x, type %d.%d"
             % (*dotted, f[7], f[6], f[8], f[9], f[10])]
    for block, _, tables in blocks:
        for table, value, strings in tables:
            if block != "StringFileInfo":
                words = struct.unpack_from("<%dH" % (len(value) // 2), value)
                lines.append("version %s: %s" % (table, " ".join("0x%04x" % w for w in words)))
            for name, text, _ in strings if block == "StringFileInfo" else ():
                text = clean(text.decode("utf-16-le", "replace").rstrip("\0"))
                lines.append("version %s %s: %s" % (table, name, text))
    return lines


def payload_lines(data):
    """Read as the bootstrapper reads it: what it refuses is invalid here."""
    try:
        magic, inflated, stream = Blob(data or b"", "the archive header").u("4sII")
        if magic != b"ZCS\0" or stream > len(data) - 12:
            raise ValueError("no archive header")
        z = zlib.decompressobj()
        table = z.decompress(data[12:12 + stream], inflated + 1)
        # A stream that ends early is taken; one that runs past the size is not.
        if not z.eof or len(table) > inflated:
            raise ValueError("the stream does not inflate within its announced size")
        b, entries = Blob(table, "the file table"), []
        for _ in range(b.u("I")):
            name = b.take(b.u("I")).decode("cp1252", "replace")
            size = len(b.take(b.u("I")))
            # Windows drops trailing dots and spaces: ". ." acts as "..".
            if (not name or name[0] in "/\\" or ":" in name or "\0" in name
                    or any(not part.strip(". ") for part in re.split(r"[/\\]", name))):
                raise ValueError('"%s" would lead out of the work folder' % name)
            entries.append((name, size))
        launch = b.u("I")
        if launch >= len(entries):
            raise ValueError("launch index %d of %d entries" % (launch, len(entries)))
    except (ValueError, NotOurs, zlib.error) as e:
        return ["payload: invalid (%s)" % clean(str(e))], False
    lines = ["payload: %d entries, %d bytes inflated, %d in the exe"
             % (len(entries), len(table), len(data))]
    return lines + ["payload entry: %s, %d bytes%s" % (clean(name), size, ", launched" * (i == launch))
                    for i, (name, size) in enumerate(entries)], True


def describe(exe):
    strings = exe.strings()
    lines = ["web host: %s" % clean(strings.get(WEB_HOST, "(missing)")),
             "manual installation: %s" % clean(strings.get(MANUAL_URL, "(missing)"))]
    pins = (exe.get(RT_RCDATA, PINS) or b"").decode("latin-1").split()
    pins_ok = bool(pins) and all(re.fullmatch(r"[0-9a-fA-F]{64}", p) for p in pins)
    lines += ["pinned sha256: %s" % clean(p) for p in pins] or ["pinned sha256: none"]
    if not pins_ok:
        lines.append("pinned sha256: not one or more 64-hex pins; every download would be refused")
    more, payload_ok = payload_lines(exe.get("ZCS_FILE", PAYLOAD))
    licence = exe.get("TEXT_FILE", LICENCE)
    if licence is None:
        more.append("licence: missing")
    else:
        first = licence.split(b"\n", 1)[0].rstrip(b"\r").decode("cp1252", "replace")
        more.append("licence: %d bytes, first line: %s" % (len(licence), clean(first)))
    signer = exe.signer()
    more += version_lines(exe.get(RT_VERSION, 1))
    more.append("signed: " + ("no" if signer is None else "yes, by %s (not verified here)" % signer))
    return lines + more, pins_ok and payload_ok


# ------------------------------------------------------------ resources

def inventory_lines(exe):
    """Every resource by type. Neutral is the only language expected: any
    other is shown, and so is a second copy."""
    by_type = {}
    for (rtype, name), langs in exe.resources.items():
        items = by_type.setdefault(clean(TYPES.get(rtype, str(rtype))), [])
        items += [(len(str(name)), clean("%s" % name if lang == 0 else "%s/%s" % (name, lang)))
                  for lang in langs]
    return ["resources %s: %s" % (t, " ".join(i for _, i in sorted(items)))
            for t, items in sorted(by_type.items())]


def string_lines(exe):
    """The web host varies by build: shown as a placeholder when it is a
    host name, and the manual address when it is built from it."""
    strings = exe.strings()
    host = strings.get(WEB_HOST, "")
    if HOST.fullmatch(host) and len(host) < 254:
        strings[WEB_HOST] = "<web host>"
        if strings.get(MANUAL_URL) == "http://" + host + MANUAL_PATH:
            strings[MANUAL_URL] = "http://<web host>" + MANUAL_PATH
    return ['string %d: "%s"' % (sid, clean(text)) for sid, text in sorted(strings.items())]


def dialog_lines(data):
    b = Blob(data or b"", "dialog %d" % DIALOG)
    if data is None or b.u("2H") != (1, 0xFFFF):
        return ["dialog %d: not an extended template in one language" % DIALOG]
    helpid, exstyle, style, count, *rect = b.u("3IH4h")
    lines = ["dialog %d: style 0x%08X exstyle 0x%08X help %d at %d,%d size %dx%d"
             " menu %s class %s caption \"%s\""
             % (DIALOG, style, exstyle, helpid, *rect, b.sz_or_ord(), b.sz_or_ord(), clean(b.sz()))]
    if style & 0x40:  # DS_SETFONT
        point, weight, italic, charset = b.u("2H2B")
        lines.append("dialog font: %d pt \"%s\" weight %d italic %d charset %d"
                     % (point, clean(b.sz()), weight, italic, charset))
    for _ in range(count):
        b.align()
        helpid, exstyle, style, x, y, cx, cy, cid = b.u("3I4hi")
        cls, text, extra = b.sz_or_ord(), b.sz_or_ord(), len(b.take(b.u("H")))
        # Shown only when set: nothing in this dialog uses them.
        more = "".join(" %s 0x%X" % kv for kv in
                       (("help", helpid), ("exstyle", exstyle), ("data", extra)) if kv[1])
        lines.append("control %d %s %s style 0x%08X at %d,%d size %dx%d%s"
                     % (cid, cls, text, style, x, y, cx, cy, more))
    return lines


def bitmap_header(data):
    """size, width, height, planes, bits, compression, x and y pixels per
    metre, colours used: of a BITMAPINFOHEADER."""
    fields = struct.unpack_from("<IiiHHIIiiII", data)
    return fields[:6] + fields[7:10]


def icon_lines(exe):
    if exe.get(RT_GROUP_ICON, ICON_GROUP) is None:
        return ["icon group %d: missing, or in several languages" % ICON_GROUP]
    b = Blob(exe.get(RT_GROUP_ICON, ICON_GROUP), "icon group %d" % ICON_GROUP)
    reserved, kind, count = b.u("3H")
    lines = ["icon group %d: reserved %d type %d, %d images" % (ICON_GROUP, reserved, kind, count)]
    for _ in range(count):
        w, h, colours, _, planes, bits, size, iid = b.u("4B2HIH")
        w, h = w or 256, h or 256
        image, problems = exe.get(RT_ICON, iid) or b"", []
        xor_row = (w * bits + 31) // 32 * 4
        expected = 40 + (4 << bits if bits <= 8 else 0) + (xor_row + (w + 31) // 32 * 4) * h
        if len(image) < 40 or bitmap_header(image)[:5] != (40, w, 2 * h, 1, bits):
            problems.append("image header does not match")
        if len(image) != size or size != expected:
            problems.append("%d bytes in the image, %d expected" % (len(image), expected))
        if bits == 32 and not any(image[43:40 + xor_row * h:4]):
            problems.append("alpha channel empty")  # would be drawn opaque on black
        lines.append("icon %d: %dx%d %d bit, %d colours, %d planes, %d bytes, %s"
                     % (iid, w, h, bits, colours, planes, size, "; ".join(problems) or "complete"))
    return lines


def resource_lines(exe):
    lines = inventory_lines(exe) + string_lines(exe)
    lines += dialog_lines(exe.get(RT_DIALOG, DIALOG)) + icon_lines(exe)
    bmp = exe.get(RT_BITMAP, BITMAP) or b""
    if len(bmp) < 40:
        lines.append("bitmap %d: missing" % BITMAP)
    else:
        size, w, h, planes, bits, comp, xppm, yppm, used = bitmap_header(bmp)
        rows = "complete" if len(bmp) >= size + (w * bits + 31) // 32 * 4 * abs(h) else "missing"
        lines.append("bitmap %d: header %d, %dx%d, %d planes, %d bit, compression %d, "
                     "%dx%d px/m, %d colours, rows %s"
                     % (BITMAP, size, w, h, planes, bits, comp, xppm, yppm, used, rows))
    text = (exe.get(RT_MANIFEST, 1) or b"(missing)").decode("utf-8", "replace")
    lines += ["manifest: " + clean(line.rstrip("\r")) for line in text.rstrip("\r\n").split("\n")]
    return lines + version_lines(exe.get(RT_VERSION, 1))


def main(argv):
    if len(argv) != 3 or argv[1] not in ("describe", "resources"):
        print("usage: exeinfo.py describe|resources EXE", file=sys.stderr)
        return 2
    try:
        with open(argv[2], "rb") as f:
            exe = Exe(f.read())
        if not {("ZCS_FILE", PAYLOAD), (RT_DIALOG, DIALOG)} <= exe.resources.keys():
            raise NotOurs("no payload or wizard resources: not a Ravenstock bootstrapper")
        lines, sound = describe(exe) if argv[1] == "describe" else (resource_lines(exe), True)
    except OSError as e:
        print("exeinfo: %s: %s" % (argv[2], e.strerror), file=sys.stderr)
        return 2
    except NotOurs as e:
        print("exeinfo: %s: %s" % (argv[2], e), file=sys.stderr)
        return 2
    print("\n".join(lines))
    return 0 if sound else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
