#!/usr/bin/env python3
"""Reads a Ravenstock_Setup.exe as data (nothing of it runs).

  exeinfo.py describe EXE    what a build carries: web host, pins, payload,
                             licence, version, signature
  exeinfo.py resources EXE   the user-visible resources as stable text, for
                             comparison with a committed expected dump

Exit codes: 0 done, 1 described but the exe would refuse its own payload or
pins, 2 usage or not a bootstrapper of this project.
Every byte comes from the file, so every offset and length is checked, and
every text is printed with control characters escaped: a name in a hostile
archive cannot forge a line of the output.
"""
import re
import struct
import sys
import zlib

RT_ICON, RT_BITMAP, RT_DIALOG, RT_STRING = 3, 2, 5, 6
RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 10, 14, 16, 24
TYPE_NAMES = {RT_BITMAP: "BITMAP", RT_ICON: "ICON", RT_DIALOG: "DIALOG", RT_STRING: "STRING",
              RT_RCDATA: "RCDATA", RT_GROUP_ICON: "GROUP_ICON", RT_VERSION: "VERSION",
              RT_MANIFEST: "MANIFEST"}
DIALOG, ICON_GROUP, BITMAP, LICENCE, PAYLOAD, PINS = 102, 128, 129, 148, 154, 155
WEB_HOST, MANUAL_URL = 302, 304
MANUAL_PATH = "/downloads/framework.net.1.1.htm"
HOST = re.compile(r"^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                  r"(\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$")


class NotOurs(Exception):
    pass


def clean(text):
    return "".join(c if " " <= c != "\x7f" else "\\x%02x" % ord(c) for c in text)


class Blob:
    """Bounds-checked little-endian reads; a read past the end raises."""

    def __init__(self, data, what):
        self.data, self.at, self.what = data, 0, what

    def take(self, n):
        if n < 0 or self.at + n > len(self.data):
            raise NotOurs("%s is cut short" % self.what)
        self.at += n
        return self.data[self.at - n:self.at]

    def u(self, fmt):
        return struct.unpack("<" + fmt, self.take(struct.calcsize(fmt)))[0]

    def align(self):
        self.take(-self.at % 4)

    def sz(self):
        chars = []
        while (c := self.u("H")) != 0:
            chars.append(chr(c))
        return "".join(chars)

    def sz_or_ord(self):
        first = self.u("H")
        if first == 0xFFFF:
            return "#%d" % self.u("H")
        self.at -= 2
        return '"%s"' % clean(self.sz())


def unpack(data, offset, fmt, what="the PE headers"):
    if offset < 0 or offset + struct.calcsize(fmt) > len(data):
        raise NotOurs("%s are cut short" % what)
    return struct.unpack_from("<" + fmt, data, offset)


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
        self.data = data
        self.sections = [unpack(data, opt + optsize + 40 * i + 8, "IIII")
                         for i in range(sections)]
        self.security = dirs[4]  # a file offset, unlike every other directory
        self.resources, self.leaves = {}, 0
        rva, size = dirs[2]
        if size:
            self.base = rva
            self.walk(self.offset(rva), 0, ())

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
                name_at = self.offset(self.base) + (key & 0x7FFFFFFF)
                (n,) = unpack(self.data, name_at, "H", "resource names")
                key = self.data[name_at + 2:name_at + 2 + 2 * n].decode("utf-16-le", "replace")
            target = self.offset(self.base) + (child & 0x7FFFFFFF)
            if depth < 2 and child & 0x80000000:
                self.walk(target, depth + 1, path + (key,))
            elif depth == 2 and not child & 0x80000000:
                # Directories may share children: a few bytes could name
                # billions of resources.
                self.leaves += 1
                if self.leaves > 10000:
                    raise NotOurs("more than 10000 resources")
                rva, size, _, _ = unpack(self.data, target, "IIII", "resource entries")
                start = self.offset(rva)
                if start + size > len(self.data):
                    raise NotOurs("a resource runs past the end of the file")
                self.resources.setdefault(path, {})[key] = self.data[start:start + size]
            else:
                raise NotOurs("the resource tree is malformed")

    def get(self, rtype, name):
        """The resource's bytes when it exists once; None when missing."""
        langs = self.resources.get((rtype, name), {})
        return next(iter(langs.values())) if len(langs) == 1 else None

    def strings(self):
        table = {}
        for (rtype, block), langs in sorted(self.resources.items(), key=str):
            if rtype != RT_STRING or not isinstance(block, int):
                continue
            for data in langs.values():
                b = Blob(data, "string block %d" % block)
                for i in range(16):
                    text = b.take(2 * b.u("H")).decode("utf-16-le", "replace")
                    if text:
                        table[(block - 1) * 16 + i] = text
        return table

    def signers(self):
        """Subjects of the signers of each Authenticode signature; None when
        the file carries no certificate table."""
        at, size = self.security
        if size == 0:
            return None
        if at + size > len(self.data):
            return ["(certificate table runs past the end of the file)"]
        subjects, end = [], at + size
        while at + 8 <= end:
            length, revision, kind = unpack(self.data, at, "IHH")
            if length < 8 or at + length > end:
                break
            if kind == 2:  # PKCS#7 signed data
                subjects.append(signer_subject(self.data[at + 8:at + length]))
            at += (length + 7) & ~7
        return subjects or ["(no PKCS#7 signature in the certificate table)"]


# ---------------------------------------------------------------- signature

def der(data, at):
    """(tag, start of contents, end) of the DER element at offset at."""
    tag, n = data[at], data[at + 1]
    at += 2
    if n & 0x80:
        count = n & 0x7F
        n = int.from_bytes(data[at:at + count], "big")
        at += count
    if at + n > len(data):
        raise IndexError
    return tag, at, at + n


def children(data, start, end):
    items = []
    while start < end:
        item = der(data, start)
        items.append(item)
        start = item[2]
    return items


NAME_KEYS = {"55040a": "O", "55040b": "OU", "550403": "CN", "550406": "C",
             "550407": "L", "550408": "ST", "2a864886f70d010901": "emailAddress"}


def name_text(data, start, end):
    parts = []
    for _, s, e in children(data, start, end):
        for _, s2, e2 in children(data, s, e):
            (_, os_, oe), (tag, vs, ve) = children(data, s2, e2)[:2]
            key = NAME_KEYS.get(data[os_:oe].hex(), data[os_:oe].hex())
            codec = "utf-16-be" if tag == 0x1E else "utf-8"  # BMPString
            parts.append("%s=%s" % (key, clean(data[vs:ve].decode(codec, "replace"))))
    return ", ".join(parts)


def signer_subject(pkcs7):
    """The signer is named by issuer and serial number; its certificate is the
    one in the bag with both, which need not be the first."""
    try:
        _, s, e = der(pkcs7, 0)
        _, s, e = der(pkcs7, children(pkcs7, s, e)[1][1])  # [0] EXPLICIT SignedData
        fields = children(pkcs7, s, e)
        certs = [f for f in fields if f[0] == 0xA0]
        signer = children(pkcs7, fields[-1][1], fields[-1][2])[0]
        who = children(pkcs7, *children(pkcs7, signer[1], signer[2])[1][1:])
        wanted = (pkcs7[who[0][1]:who[0][2]], pkcs7[who[1][1]:who[1][2]])
        for _, cs, ce in (children(pkcs7, certs[0][1], certs[0][2]) if certs else []):
            tbs = children(pkcs7, *children(pkcs7, cs, ce)[0][1:])
            tbs = tbs[1:] if tbs[0][0] == 0xA0 else tbs  # optional version
            serial, issuer, subject = tbs[0], tbs[2], tbs[4]
            if (pkcs7[issuer[1]:issuer[2]], pkcs7[serial[1]:serial[2]]) == wanted:
                return name_text(pkcs7, subject[1], subject[2])
        return "(the signer's certificate is not in the signature)"
    except (IndexError, ValueError):
        return "(unreadable signature)"


# ---------------------------------------------------------------- describe

def version_tree(data):
    """VS_VERSIONINFO as nested (key, value bytes, is_text, children)."""
    def node(b, end):
        start = b.at
        length, value_length, is_text = b.u("H"), b.u("H"), b.u("H")
        key = b.sz()
        b.align()
        value = b.take(value_length * 2 if is_text else value_length)
        kids, stop = [], min(start + length, end)
        while b.at + (-b.at % 4) < stop:
            b.align()
            kids.append(node(b, stop))
        # Never back: a node claiming less than its own header must not
        # make the walk read it again and again.
        b.at = max(b.at, stop)
        return key, value, is_text, kids
    return node(Blob(data, "the version information"), len(data))


def version_lines(data):
    if data is None:
        return ["version: none"]
    key, value, _, kids = version_tree(data)
    if len(value) < 52 or struct.unpack_from("<I", value)[0] != 0xFEEF04BD:
        return ["version: no fixed file information"]
    f = struct.unpack_from("<13I", value)
    dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    lines = ["version: file %s, product %s, flags 0x%x of 0x%x, os 0x%x, type %d.%d"
             % (dotted(f[2], f[3]), dotted(f[4], f[5]), f[7], f[6], f[8], f[9], f[10])]
    for block, _, _, tables in kids:
        for table, tvalue, _, values in tables:
            if block == "StringFileInfo":
                for name, text, _, _ in values:
                    text = text.decode("utf-16-le", "replace").rstrip("\0")
                    lines.append("version %s %s: %s" % (clean(table), clean(name), clean(text)))
            else:
                pairs = struct.unpack_from("<%dH" % (len(tvalue) // 2), tvalue)
                words = " ".join("0x%04x" % p for p in pairs)
                lines.append("version %s: %s" % (clean(table), words))
    return lines


def payload_lines(data):
    if data is None:
        return ["payload: missing"], False
    try:
        magic, inflated, stream = struct.unpack_from("<4sII", data)
        if magic != b"ZCS\0" or stream > len(data) - 12:
            raise ValueError("no archive header")
        z = zlib.decompressobj()
        table = z.decompress(data[12:12 + stream], inflated + 1)
        # The bootstrapper takes a stream that ends early, not one that
        # runs past the announced size.
        if not z.eof or len(table) > inflated:
            raise ValueError("the stream does not inflate within its announced size")
        b = Blob(table, "the file table")
        entries = []
        for _ in range(b.u("I")):
            name = b.take(b.u("I")).decode("cp1252", "replace")
            size = b.u("I")
            b.take(size)
            # Windows drops trailing dots and spaces, so ". ." acts as "..".
            if (not name or name[0] in "/\\" or ":" in name or "\0" in name
                    or any(not part.strip(". ") for part in re.split(r"[/\\]", name))):
                raise ValueError('"%s" would lead out of the work folder' % name)
            entries.append((name, size))
        launch = b.u("I")
        if launch >= len(entries):
            raise ValueError("launch index %d of %d entries" % (launch, len(entries)))
    except (ValueError, NotOurs, zlib.error, struct.error) as e:
        return ["payload: invalid (%s)" % clean(str(e))], False
    lines = ["payload: %d entries, %d bytes inflated, %d in the exe"
             % (len(entries), inflated, len(data))]
    lines += ["payload entry: %s, %d bytes%s"
              % (clean(name), size, ", launched" if i == launch else "")
              for i, (name, size) in enumerate(entries)]
    return lines, True


def describe(exe):
    strings = exe.strings()
    lines = ["web host: %s" % clean(strings.get(WEB_HOST, "(missing)")),
             "manual installation: %s" % clean(strings.get(MANUAL_URL, "(missing)"))]
    pins = exe.get(RT_RCDATA, PINS)
    tokens = pins.decode("latin-1").split() if pins is not None else []
    sound = bool(tokens) and all(re.fullmatch(r"[0-9a-fA-F]{64}", t) for t in tokens)
    lines += ["pinned sha256: %s" % clean(t) for t in tokens] or ["pinned sha256: none"]
    if not sound:
        lines.append("pinned sha256: not one or more 64-hex pins; every download would be refused")
    more, payload_ok = payload_lines(exe.get("ZCS_FILE", PAYLOAD))
    lines += more
    licence = exe.get("TEXT_FILE", LICENCE)
    if licence is None:
        lines.append("licence: missing")
    else:
        first = licence.split(b"\n", 1)[0].rstrip(b"\r").decode("cp1252", "replace")
        lines.append("licence: %d bytes, first line: %s" % (len(licence), clean(first)))
    lines += version_lines(exe.get(RT_VERSION, 1))
    signers = exe.signers()
    if signers is None:
        lines.append("signed: no")
    for who in signers or []:
        lines.append("signed: yes, by %s (not verified here)" % who)
    return lines, sound and payload_ok


# ---------------------------------------------------------------- resources

def inventory_lines(exe):
    by_type = {}
    for (rtype, name), langs in exe.resources.items():
        for lang in langs:
            # Neutral is the only language a resource here should have; any
            # other is shown, as is a second copy.
            item = clean("%s" % name if lang == 0 else "%s/%s" % (name, lang))
            rname = clean(TYPE_NAMES.get(rtype, str(rtype)))
            by_type.setdefault(rname, []).append((len(str(name)), item))
    return ["resources %s: %s" % (t, " ".join(i for _, i in sorted(items)))
            for t, items in sorted(by_type.items())]


def string_lines(exe):
    strings = exe.strings()
    host = strings.get(WEB_HOST, "")
    lines = []
    for sid, text in sorted(strings.items()):
        if sid == WEB_HOST and HOST.match(text):
            text = "<web host>"
        elif sid == MANUAL_URL and text == "http://" + host + MANUAL_PATH:
            text = "http://<web host>" + MANUAL_PATH
        lines.append('string %d: "%s"' % (sid, clean(text)))
    return lines


def dialog_lines(data):
    if data is None:
        return ["dialog %d: missing or in several languages" % DIALOG]
    b = Blob(data, "dialog %d" % DIALOG)
    version, signature = b.u("H"), b.u("H")
    if (version, signature) != (1, 0xFFFF):
        return ["dialog %d: not an extended template" % DIALOG]
    helpid, exstyle, style, count = b.u("I"), b.u("I"), b.u("I"), b.u("H")
    rect = struct.unpack("<4h", b.take(8))
    menu, cls, caption = b.sz_or_ord(), b.sz_or_ord(), clean(b.sz())
    lines = ["dialog %d: style 0x%08X exstyle 0x%08X help %d at %d,%d size %dx%d"
             " menu %s class %s caption \"%s\""
             % ((DIALOG, style, exstyle, helpid) + rect + (menu, cls, caption))]
    if style & 0x40:  # DS_SETFONT
        point, weight, italic, charset = b.u("H"), b.u("H"), b.u("B"), b.u("B")
        lines.append("dialog font: %d pt \"%s\" weight %d italic %d charset %d"
                     % (point, clean(b.sz()), weight, italic, charset))
    for _ in range(count):
        b.align()
        helpid, exstyle, style = b.u("I"), b.u("I"), b.u("I")
        x, y, cx, cy = struct.unpack("<4h", b.take(8))
        cid, cls, text, extra = b.u("i"), b.sz_or_ord(), b.sz_or_ord(), b.u("H")
        b.take(extra)
        # Shown only when set: nothing in this dialog uses them.
        more = "".join(" %s 0x%X" % kv for kv in
                       (("help", helpid), ("exstyle", exstyle), ("data", extra)) if kv[1])
        lines.append("control %d %s %s style 0x%08X at %d,%d size %dx%d%s"
                     % (cid, cls, text, style, x, y, cx, cy, more))
    return lines


def bitmap_header(data):
    """size, width, height, planes, bits, compression, x and y pixels per
    metre, colours used."""
    fields = struct.unpack_from("<IiiHHIIiiII", data)
    return fields[:6] + fields[7:10]


def icon_lines(exe):
    group = exe.get(RT_GROUP_ICON, ICON_GROUP)
    if group is None:
        return ["icon group %d: missing or in several languages" % ICON_GROUP]
    b = Blob(group, "icon group %d" % ICON_GROUP)
    reserved, kind, count = b.u("H"), b.u("H"), b.u("H")
    lines = ["icon group %d: reserved %d type %d, %d images" % (ICON_GROUP, reserved, kind, count)]
    for _ in range(count):
        w, h, colours, _, planes, bits, size, iid = struct.unpack("<BBBBHHIH", b.take(14))
        w, h = w or 256, h or 256
        image, problems = exe.get(RT_ICON, iid), []
        if image is None or len(image) < 40:
            problems.append("image missing")
        else:
            hsize, iw, ih, _, ibits, *_ = bitmap_header(image)
            palette = 4 << bits if bits <= 8 else 0
            rows = ((w * bits + 31) // 32 + (w + 31) // 32) * 4 * h
            if (hsize, iw, ih, ibits) != (40, w, 2 * h, bits):
                problems.append("image header %d %dx%d %d bit" % (hsize, iw, ih, ibits))
            if len(image) != size or size != 40 + palette + rows:
                problems.append("%d bytes in the image, %d expected"
                                % (len(image), 40 + palette + rows))
            pixels = image[40 + 3:40 + (w * bits + 31) // 32 * 4 * h:4]
            if bits == 32 and not any(pixels):
                problems.append("alpha channel empty")
        lines.append("icon %d: %dx%d %d bit, %d colours, %d planes, %d bytes, %s"
                     % (iid, w, h, bits, colours, planes, size, "; ".join(problems) or "complete"))
    return lines


def resource_lines(exe):
    lines = inventory_lines(exe) + string_lines(exe)
    lines += dialog_lines(exe.get(RT_DIALOG, DIALOG)) + icon_lines(exe)
    bmp = exe.get(RT_BITMAP, BITMAP)
    if bmp is None or len(bmp) < 40:
        lines.append("bitmap %d: missing" % BITMAP)
    else:
        size, w, h, planes, bits, comp, xppm, yppm, used = bitmap_header(bmp)
        stride = (w * bits + 31) // 32 * 4
        rows = "complete" if len(bmp) >= size + stride * abs(h) else "missing"
        lines.append("bitmap %d: header %d, %dx%d, %d planes, %d bit, compression %d, "
                     "%dx%d px/m, %d colours, rows %s"
                     % (BITMAP, size, w, h, planes, bits, comp, xppm, yppm, used, rows))
    manifest = exe.get(RT_MANIFEST, 1)
    text = manifest.decode("utf-8", "replace") if manifest is not None else "(missing)"
    lines += ["manifest: " + clean(line.rstrip("\r"))
              for line in text.rstrip("\r\n").split("\n")]
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
        if argv[1] == "describe":
            lines, sound = describe(exe)
        else:
            lines, sound = resource_lines(exe), True
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
