#!/usr/bin/env python3
"""Hand-built carving samples for the formats no installed tool writes, field by field."""
import os
import struct
import sys
import zlib

out = sys.argv[1]
variants = sys.argv[2]


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def write_variant(name, data):
    with open(os.path.join(variants, name), "wb") as f:
        f.write(data)


def filler(n, seed):
    """Deterministic non-zero-ish payload bytes."""
    state = seed
    data = bytearray()
    for _ in range(n):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        data.append((state >> 16) & 0xFF)
    return bytes(data)


# JPEG with an Exif APP1 segment in place of the JFIF APP0 segment of the ImageMagick sample.
def exif_jpeg():
    with open(os.path.join(out, "sample_jfif.jpg"), "rb") as f:
        jfif = f.read()
    assert jfif[:4] == b"\xff\xd8\xff\xe0"
    app0_len = struct.unpack(">H", jfif[4:6])[0]
    rest = jfif[4 + app0_len:]
    tiff = b"II*\x00" + struct.pack("<I", 8) + struct.pack("<H", 0) + struct.pack("<I", 0)
    app1_body = b"Exif\x00\x00" + tiff
    app1 = b"\xff\xe1" + struct.pack(">H", len(app1_body) + 2) + app1_body
    write("sample_exif.jpg", b"\xff\xd8" + app1 + rest)


# Compound document: header, data stream (8 sectors), FAT sector, directory sector.
def cfb(name, stream_name, stream_data, root_clsid):
    sector = 512
    end_of_chain, fat_sect, free = 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF
    nstream = len(stream_data) // sector
    fat_index, dir_index = nstream, nstream + 1
    header = bytearray(sector)
    header[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")         # signature
    struct.pack_into("<HH", header, 24, 0x3E, 3)            # minor, major version
    struct.pack_into("<H", header, 28, 0xFFFE)              # byte order
    struct.pack_into("<HH", header, 30, 9, 6)               # sector shift, mini sector shift
    struct.pack_into("<I", header, 40, 0)                   # directory sectors (v3: 0)
    struct.pack_into("<I", header, 44, 1)                   # FAT sectors
    struct.pack_into("<I", header, 48, dir_index)           # first directory sector
    struct.pack_into("<I", header, 56, 4096)                # mini stream cutoff
    struct.pack_into("<II", header, 60, end_of_chain, 0)    # first mini FAT sector, count
    struct.pack_into("<II", header, 68, end_of_chain, 0)    # first DIFAT sector, count
    for i in range(109):                                    # header DIFAT
        struct.pack_into("<I", header, 76 + 4 * i, fat_index if i == 0 else free)
    fat = [free] * 128
    for i in range(nstream):
        fat[i] = i + 1 if i + 1 < nstream else end_of_chain
    fat[fat_index] = fat_sect
    fat[dir_index] = end_of_chain
    fat_sector = struct.pack("<128I", *fat)

    def dir_entry(name_text, obj_type, child, clsid, start, size):
        e = bytearray(128)
        encoded = (name_text + "\0").encode("utf-16-le") if name_text else b""
        e[0:len(encoded)] = encoded
        struct.pack_into("<H", e, 64, len(encoded))          # name length in bytes
        e[66] = obj_type                                     # 5 root, 2 stream, 0 unused
        e[67] = 1                                            # black
        struct.pack_into("<III", e, 68, free, free, child)   # left, right, child
        e[80:96] = clsid
        struct.pack_into("<I", e, 116, start)                # start sector
        struct.pack_into("<Q", e, 120, size)                 # stream size
        return bytes(e)

    directory = (dir_entry("Root Entry", 5, 1, root_clsid, end_of_chain, 0) +
                 dir_entry(stream_name, 2, free, bytes(16), 0, len(stream_data)) +
                 dir_entry("", 0, free, bytes(16), 0, 0) * 2)
    write(name, bytes(header) + stream_data + fat_sector + directory)


def clsid(a, b, c, d):
    return struct.pack("<IIII", a, b, c, d)


def office_2003():
    word = b"\xec\xa5\xc1\x00" + filler(4092, 1)
    biff = bytes.fromhex("090810000006") + filler(4090, 2)
    ppt = bytes.fromhex("0F00E803") + filler(4092, 3)
    ole = b"\x01\x02\x03\x04" + filler(4092, 4)
    cfb("sample.doc", "WordDocument", word, bytes(16))
    cfb("sample.xls", "Workbook", biff, bytes(16))
    cfb("sample.ppt", "PowerPoint Document", ppt, bytes(16))
    cfb("sample_clsid.doc", "Data", ole, clsid(0x00020906, 0, 0xC0, 0x46000000))
    cfb("sample.ole", "Contents", ole, bytes(16))


# RealMedia: .RMF header, PROP and DATA chunks, and the INDX chunk header that closes the file.
def rmvb():
    rmf = b".RMF" + struct.pack(">IHII", 18, 0, 0, 3)
    prop = b"PROP" + struct.pack(">IH", 50, 0) + bytes(40)
    payload = filler(2000, 5)
    data = b"DATA" + struct.pack(">IHII", 18 + len(payload), 0, 1, 0) + payload
    indx = bytes.fromhex("494E4458000000140000000000000002" + "00000000")
    write("sample.rmvb", rmf + prop + data + indx)


# Standard MIDI file: MThd and two MTrk chunks, the second long enough to cross sectors.
def midi():
    def track(events):
        return b"MTrk" + struct.pack(">I", len(events)) + events
    tempo = b"\x00\xff\x51\x03\x07\xa1\x20\x00\xff\x2f\x00"
    notes = bytearray()
    for i in range(700):
        notes += bytes([0x10, 0x90, 0x30 + i % 40, 0x40])
    notes += b"\x00\xff\x2f\x00"
    head = b"MThd" + struct.pack(">IHHH", 6, 1, 2, 96)
    write("sample.mid", head + track(tempo) + track(bytes(notes)))


# Monkey's Audio: "MAC " descriptor, frames, and an APEv2 tag (header, one item, footer).
def ape():
    descriptor = b"MAC " + struct.pack("<HH", 3990, 0) + bytes(44)
    frames = filler(3000, 6)
    item = struct.pack("<II", 7, 0) + b"Title\x00" + b"Orvanne"
    tag_size = len(item) + 32

    def tag_block(flags):
        return b"APETAGEX" + struct.pack("<IIII", 2000, tag_size, 1, flags) + bytes(8)
    tag = tag_block(0xA0000000) + item + tag_block(0x80000000)
    write("sample.ape", descriptor + frames + tag)


# SMAF: MMMD chunk holding a contents-info chunk.
def mmf():
    cnti = b"CNTI" + struct.pack(">I", 5) + b"\x00\x01\x02\x03\x00"
    body = cnti + filler(1500, 7)
    write("sample.mmf", b"MMMD" + struct.pack(">I", len(body)) + body)


# Norton Ghost image header and payload.
def gho():
    write("sample.gho", b"\xfe\xef\x00\x00" + filler(1020, 8))


# Outlook Express store and Outlook personal folders: their signatures and payload.
def mail():
    dbx_sig = bytes.fromhex("CFAD12FEC5FD746F66E3D1119A4E00C04FD8AD2A")
    write("sample.dbx", dbx_sig + filler(2028, 9))
    pst = bytearray(b"!BDN" + struct.pack("<I", 0) + b"SM" + struct.pack("<HH", 23, 19))
    write("sample.pst", bytes(pst) + filler(2048 - len(pst), 10))


# PE executable: MZ stub with e_lfanew, PE signature, file header marking an executable image.
def pe():
    image = bytearray(1024)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, 0x80)                 # e_lfanew
    image[0x80:0x84] = b"PE\x00\x00"
    struct.pack_into("<HHIIIHH", image, 0x84, 0x14C, 0, 0, 0, 0, 0xE0, 0x0102)
    write("sample.exe", bytes(image))


# RAR 4: marker block, archive header, one stored file, end-of-archive block.
def rar():
    def block(head_type, flags, body, add=b""):
        size = 7 + len(body)
        raw = bytes([head_type]) + struct.pack("<HH", flags, size) + body
        crc = zlib.crc32(raw) & 0xFFFF
        return struct.pack("<H", crc) + raw + add
    marker = b"Rar!\x1a\x07\x00"
    archive = block(0x73, 0, bytes(6))
    data = b"Orvanne carving sample\n" * 40
    name = b"note.txt"
    file_body = struct.pack("<IIBIIBBHI", len(data), len(data), 3, zlib.crc32(data), 0, 20, 0x30,
                            len(name), 0x20) + name
    file_block = block(0x74, 0x8000, file_body, data)
    end = bytes.fromhex("C43D7B00400700")
    write("sample.rar", marker + archive + file_block + end)


# AVCHD transport stream: 192-byte packets (4-byte arrival time + TS packet); the first carries
# the PAT with the network and one program.
def mts():
    def packet(timestamp, ts):
        return struct.pack(">I", timestamp) + ts
    pat_section = bytes.fromhex("00B011" "0000" "C1" "00" "00" "0000E01F" "0001E100")
    pat_section += struct.pack(">I", 0)  # CRC field, not checked by readers of this sample
    pat = b"\x47\x40\x00\x10" + b"\x00" + pat_section
    pat += b"\xff" * (188 - len(pat))
    null = b"\x47\x1f\xff\x10" + filler(184, 11)
    stream = packet(0, pat)
    for i in range(1, 40):
        stream += packet(0x1000 * i, null)
    write("sample.mts", stream)


def append_end_code(name, code):
    with open(os.path.join(out, name), "rb") as f:
        data = f.read()
    if not data.endswith(code):
        write(name, data + code)


# Fields of tool output that the formats allow but the samples must show: the end codes that
# ffmpeg leaves out of MPEG-1 video and program streams, a plain MP2 header byte, and an
# uncompressed SWF version below 6.
def patch_tool_output():
    append_end_code("sample_es.mpg", b"\x00\x00\x01\xb7")  # sequence_end_code
    append_end_code("sample_ps.mpg", b"\x00\x00\x01\xb9")  # MPEG_program_end_code
    with open(os.path.join(out, "sample.mp2"), "rb") as f:
        mp2 = bytearray(f.read())
    frame = 144 * 384000 // 48000
    for off in range(0, len(mp2), frame):
        assert mp2[off:off + 3] == b"\xff\xfd\xe4"
        mp2[off + 3] &= ~0x04 & 0xFF                          # "original" flag
    write("sample.mp2", bytes(mp2))
    with open(os.path.join(out, "sample.swf"), "rb") as f:
        swf = bytearray(f.read())
    assert swf[:3] == b"FWS"
    swf[3] = 5                                               # version
    write("sample.swf", bytes(swf))


patch_tool_output()
exif_jpeg()
office_2003()
rmvb()
midi()
ape()
mmf()
gho()
mail()
pe()
rar()
mts()


# ---- Variants no tool writes, built from tool output where one exists.

# BMP with the 56-byte Windows v3 header with alpha mask and the 64-byte OS/2 2.x header: the
# 24-bit pixels of the ImageMagick v3 sample behind a longer DIB header.
def bmp_headers():
    v3 = read(out, "sample.bmp")
    width, height = struct.unpack("<ii", v3[18:26])
    pixels = v3[struct.unpack("<I", v3[10:14])[0]:]

    def bmp(dib_size, tail):
        dib = struct.pack("<IiiHHIIiiII", dib_size, width, height,
                          1, 24,                                # planes, bits per pixel
                          0, len(pixels),                       # BI_RGB, image size
                          2835, 2835, 0, 0) + tail              # pixels per metre, colours
        assert len(dib) == dib_size
        offset = 14 + dib_size
        file_header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
        return file_header + dib + pixels
    write_variant("sample_v3alpha.bmp", bmp(56, struct.pack("<IIII", 0, 0, 0, 0)))  # RGBA masks
    os2 = struct.pack("<HHHHIIII", 0, 0,                         # units, reserved
                      0, 0,                                      # recording, rendering
                      0, 0, 0, 0)                                # size1, size2, encoding, id
    write_variant("sample_os2v2.bmp", bmp(64, os2))


# JPEG whose Huffman tables come before its quantisation tables (no APPn segment).
def jpeg_dht_first():
    data = read(variants, "sample_bare.jpg")
    segments, pos = [], 2
    while data[pos + 1] != 0xDA:                                 # up to the start of scan
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        segments.append(data[pos:pos + 2 + length])
        pos += 2 + length
    dht = [seg for seg in segments if seg[1] == 0xC4]
    others = [seg for seg in segments if seg[1] != 0xC4]
    write_variant("sample_dhtfirst.jpg", b"\xff\xd8" + b"".join(dht + others) + data[pos:])


# MPEG audio layer I (no free encoder writes it): frames whose bit allocation is all zero, i.e.
# silence, at MPEG-1 44.1 kHz and MPEG-2 22.05 kHz, mono, 64 kbit/s, padded as an encoder pads.
def mpeg_layer1():
    def stream(version_bits, bitrate_index, rate, frames):
        bitrate, rate_index = 64000, 0                            # 44.1 or 22.05 kHz
        data, rest = bytearray(), 0
        for _ in range(frames):
            rest += 12 * bitrate % rate                          # a slot more when it adds up
            padding = int(rest >= rate)
            rest -= rate * padding
            header = (0x7FF << 21 | version_bits << 19 | 3 << 17   # sync, version, layer I
                      | 1 << 16                                    # no CRC
                      | bitrate_index << 12 | rate_index << 10 | padding << 9
                      | 3 << 6)                                    # mono
            size = (12 * bitrate // rate + padding) * 4
            data += struct.pack(">I", header) + bytes(size - 4)  # allocation 0: no samples
        return bytes(data)
    write_variant("sample_mpeg1l1.mp1", stream(3, 2, 44100, 60))  # index 2: 64 kbit/s
    write_variant("sample_mpeg2l1.mp1", stream(2, 4, 22050, 40))  # index 4: 64 kbit/s


def vint(value):
    """RAR 5 variable-length integer: 7 bits a byte, high bit set on all but the last."""
    out_bytes = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        out_bytes.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out_bytes)


# RAR 5: signature, main archive header, one stored file header with its data, end of archive.
def rar5():
    def header(fields, data=b""):
        size = vint(len(fields))
        return struct.pack("<I", zlib.crc32(size + fields)) + size + fields + data
    main = header(vint(1) + vint(0) + vint(0))                   # type 1, flags, archive flags
    payload = b"Orvanne carving sample\n" * 40
    name = b"note.txt"
    file_fields = (vint(2) + vint(0x0002)                        # type 2, data area present
                   + vint(len(payload))                          # data size
                   + vint(0x0004)                                # file flags: CRC32 present
                   + vint(len(payload))                          # unpacked size
                   + vint(0x20)                                  # attributes
                   + struct.pack("<I", zlib.crc32(payload))      # data CRC32
                   + vint(0)                                     # version 0, method 0: stored
                   + vint(0)                                     # host OS: Windows
                   + vint(len(name)) + name)
    end = header(vint(5) + vint(0) + vint(0))                    # type 5, flags, end flags
    write_variant("sample_rar5.rar", b"Rar!\x1a\x07\x01\x00" + main + header(file_fields, payload)
                  + end)


# ---- Camera raw: TIFF-based files laid out by a small writer whose tags are named.
BYTE, ASCII, SHORT, LONG, RATIONAL, UNDEFINED, SRATIONAL = 1, 2, 3, 4, 5, 7, 10
NEW_SUBFILE_TYPE, IMAGE_WIDTH, IMAGE_LENGTH, BITS_PER_SAMPLE, COMPRESSION = 254, 256, 257, 258, 259
PHOTOMETRIC, MAKE, MODEL, STRIP_OFFSETS, ORIENTATION = 262, 271, 272, 273, 274
SAMPLES_PER_PIXEL, ROWS_PER_STRIP, STRIP_BYTE_COUNTS, PLANAR_CONFIG = 277, 278, 279, 284
SOFTWARE, SUB_IFDS, JPEG_OFFSET, JPEG_LENGTH = 305, 330, 513, 514
CFA_REPEAT_PATTERN_DIM, CFA_PATTERN, EXIF_IFD = 33421, 33422, 34665
DNG_VERSION, DNG_BACKWARD_VERSION, UNIQUE_CAMERA_MODEL = 50706, 50707, 50708
BLACK_LEVEL, WHITE_LEVEL, COLOR_MATRIX_1 = 50714, 50717, 50721
AS_SHOT_NEUTRAL, CALIBRATION_ILLUMINANT_1 = 50728, 50778
PHOTOMETRIC_RGB, PHOTOMETRIC_CFA = 2, 32803
EXIF_DATE_TIME_ORIGINAL, EXIF_ISO = 36867, 34855
TYPE_FORMAT = {BYTE: "B", ASCII: "B", SHORT: "H", LONG: "I", RATIONAL: "II", UNDEFINED: "B",
               SRATIONAL: "ii"}


class Ref:
    """An offset the writer fills in: of an IFD or a data block, by name."""
    def __init__(self, name):
        self.name = name


def tiff(order, magic, ifds, blocks, header_tail=lambda where: b"", tail_size=0):
    """order "<" or ">"; ifds: [(name, [(tag, type, values)], next IFD name or None)], the first
    is IFD0; blocks: [(name, bytes)] after the IFDs; header_tail(offsets by name) gives the
    tail_size bytes between the 8-byte header and IFD0."""
    def encode(kind, values):
        if kind in (ASCII, UNDEFINED, BYTE) and isinstance(values, (bytes, str)):
            raw = values.encode() + b"\0" if isinstance(values, str) else values
            return len(raw), raw
        flat = [v for pair in values for v in pair] if kind in (RATIONAL, SRATIONAL) else values
        return len(values), struct.pack(order + TYPE_FORMAT[kind][0] * len(flat), *flat)

    def ifd_size(entries):
        sizes = [len(encode(kind, values if isinstance(values, (str, bytes)) else
                            [0 if isinstance(v, Ref) else v for v in values])[1])
                 for _, kind, values in entries]
        return 2 + 12 * len(entries) + 4 + sum((n + 1) & ~1 for n in sizes if n > 4)

    where, pos = {}, 8 + tail_size
    for name, entries, _ in ifds:
        where[name] = pos
        pos += ifd_size(entries)
    for name, data in blocks:
        where[name] = pos
        pos += (len(data) + 1) & ~1
    resolve = lambda values: values if isinstance(values, (str, bytes)) else [
        where[v.name] if isinstance(v, Ref) else v for v in values]
    image = bytearray(struct.pack(order + "2sHI", b"II" if order == "<" else b"MM", magic,
                                  where[ifds[0][0]]) + header_tail(where))
    for name, entries, next_name in ifds:
        assert len(image) == where[name]
        overflow_at = where[name] + 2 + 12 * len(entries) + 4
        table, overflow = struct.pack(order + "H", len(entries)), bytearray()
        for tag, kind, values in sorted(entries, key=lambda e: e[0]):
            count, raw = encode(kind, resolve(values))
            if len(raw) <= 4:
                field = raw.ljust(4, b"\0")
            else:
                field = struct.pack(order + "I", overflow_at + len(overflow))
                overflow += raw + b"\0" * (len(raw) & 1)
            table += struct.pack(order + "HHI", tag, kind, count) + field
        table += struct.pack(order + "I", where[next_name] if next_name else 0)
        image += table + overflow
    for name, data in blocks:
        assert len(image) == where[name]
        image += data + b"\0" * (len(data) & 1)
    return bytes(image)


def cfa_pixels(width, height, order):
    """16-bit Bayer samples of a 12-bit gradient."""
    return b"".join(struct.pack(order + "H", (x * 97 + y * 131) % 4096)
                    for y in range(height) for x in range(width))


RAW_W, RAW_H = 32, 24


def cfa_ifd(order, make, model, extra=()):
    """IFD entries of an uncompressed 16-bit RGGB sensor image stored in the block "raw"."""
    return [(NEW_SUBFILE_TYPE, LONG, [0]), (IMAGE_WIDTH, LONG, [RAW_W]),
            (IMAGE_LENGTH, LONG, [RAW_H]), (BITS_PER_SAMPLE, SHORT, [16]),
            (COMPRESSION, SHORT, [1]), (PHOTOMETRIC, SHORT, [PHOTOMETRIC_CFA]),
            (MAKE, ASCII, make), (MODEL, ASCII, model),
            (STRIP_OFFSETS, LONG, [Ref("raw")]), (SAMPLES_PER_PIXEL, SHORT, [1]),
            (ROWS_PER_STRIP, LONG, [RAW_H]), (STRIP_BYTE_COUNTS, LONG, [RAW_W * RAW_H * 2]),
            (PLANAR_CONFIG, SHORT, [1]), (CFA_REPEAT_PATTERN_DIM, SHORT, [2, 2]),
            (CFA_PATTERN, BYTE, [0, 1, 1, 2])] + list(extra)


def preview_ifd(order, make, model, extra=()):
    """IFD0 of a raw file: an 8x6 RGB preview in the block "preview", then the camera."""
    return [(NEW_SUBFILE_TYPE, LONG, [1]), (IMAGE_WIDTH, LONG, [8]), (IMAGE_LENGTH, LONG, [6]),
            (BITS_PER_SAMPLE, SHORT, [8, 8, 8]), (COMPRESSION, SHORT, [1]),
            (PHOTOMETRIC, SHORT, [PHOTOMETRIC_RGB]), (MAKE, ASCII, make), (MODEL, ASCII, model),
            (STRIP_OFFSETS, LONG, [Ref("preview")]), (ORIENTATION, SHORT, [1]),
            (SAMPLES_PER_PIXEL, SHORT, [3]), (ROWS_PER_STRIP, LONG, [6]),
            (STRIP_BYTE_COUNTS, LONG, [8 * 6 * 3]), (PLANAR_CONFIG, SHORT, [1]),
            (SOFTWARE, ASCII, "Orvanne handbuilt")] + list(extra)


PREVIEW = bytes((i * 7) & 0xFF for i in range(8 * 6 * 3))


def exif_ifd():
    return ("exif", [(EXIF_ISO, SHORT, [100]),
                     (EXIF_DATE_TIME_ORIGINAL, ASCII, "2023:11:14 22:13:20")], None)


# DNG: IFD0 holds the preview and the DNG tags, its SubIFD the CFA image.
def dng():
    tags = [(SUB_IFDS, LONG, [Ref("raw_ifd")]), (EXIF_IFD, LONG, [Ref("exif")]),
            (DNG_VERSION, BYTE, [1, 4, 0, 0]), (DNG_BACKWARD_VERSION, BYTE, [1, 1, 0, 0]),
            (UNIQUE_CAMERA_MODEL, ASCII, "Orvanne Sample"),
            (COLOR_MATRIX_1, SRATIONAL, [(10000, 10000), (0, 1), (0, 1), (0, 1), (10000, 10000),
                                         (0, 1), (0, 1), (0, 1), (10000, 10000)]),
            (AS_SHOT_NEUTRAL, RATIONAL, [(1, 2), (1, 1), (1, 2)]),
            (CALIBRATION_ILLUMINANT_1, SHORT, [21])]
    raw_tags = [(BLACK_LEVEL, LONG, [0]), (WHITE_LEVEL, LONG, [4095])]
    write_variant("sample.dng", tiff("<", 42, [
        ("ifd0", preview_ifd("<", "Orvanne", "Sample", tags), None),
        ("raw_ifd", cfa_ifd("<", "Orvanne", "Sample", raw_tags), None), exif_ifd()],
        [("preview", PREVIEW), ("raw", cfa_pixels(RAW_W, RAW_H, "<"))]))


# CR2: "CR", version 2.0 and the raw IFD's offset after the TIFF header; IFD0 (preview) chains
# to the raw IFD.
def cr2():
    def header_tail(where):
        return b"CR" + bytes([2, 0]) + struct.pack("<I", where["raw_ifd"])
    ifds = [("ifd0", preview_ifd("<", "Canon", "Canon EOS 5D Mark II",
                                 [(EXIF_IFD, LONG, [Ref("exif")])]), "raw_ifd"),
            ("raw_ifd", cfa_ifd("<", "Canon", "Canon EOS 5D Mark II"), None), exif_ifd()]
    blocks = [("preview", PREVIEW), ("raw", cfa_pixels(RAW_W, RAW_H, "<"))]
    image = tiff("<", 42, ifds, blocks, header_tail, 8)
    write_variant("sample.cr2", image)


# TIFF-based raws that differ in byte order, magic number and maker: preview IFD0 with a
# SubIFD holding the CFA image (NEF, ARW, PEF), or the CFA image in IFD0 (ORF "IIRO").
def tiff_raws():
    def with_sub_ifd(order, make, model, magic=42):
        return tiff(order, magic, [
            ("ifd0", preview_ifd(order, make, model, [(SUB_IFDS, LONG, [Ref("raw_ifd")]),
                                                      (EXIF_IFD, LONG, [Ref("exif")])]), None),
            ("raw_ifd", cfa_ifd(order, make, model), None), exif_ifd()],
            [("preview", PREVIEW), ("raw", cfa_pixels(RAW_W, RAW_H, order))])
    write_variant("sample.nef", with_sub_ifd(">", "NIKON CORPORATION", "NIKON D300"))
    write_variant("sample.arw", with_sub_ifd("<", "SONY", "DSLR-A700"))
    write_variant("sample.pef", with_sub_ifd(">", "PENTAX Corporation", "PENTAX K10D"))
    orf_magic = 0x4F52                                           # "RO" after "II"
    write_variant("sample.orf", tiff("<", orf_magic, [
        ("ifd0", cfa_ifd("<", "OLYMPUS IMAGING CORP.", "E-500",
                         [(EXIF_IFD, LONG, [Ref("exif")])]), None), exif_ifd()],
        [("raw", cfa_pixels(RAW_W, RAW_H, "<"))]))


# RW2: "IIU\0" header and a 16-byte signature before IFD0, which uses Panasonic's own tag
# numbers below 0x100 beside TIFF's.
def rw2():
    PANA_VERSION, SENSOR_WIDTH, SENSOR_HEIGHT = 0x01, 0x02, 0x03
    SENSOR_TOP, SENSOR_LEFT, SENSOR_BOTTOM, SENSOR_RIGHT = 0x04, 0x05, 0x06, 0x07
    PANA_BITS, PANA_COMPRESSION, RAW_DATA_OFFSET = 0x0A, 0x0B, 0x118
    JPG_FROM_RAW = 0x2E                                          # preview JPEG, inline
    entries = [(PANA_VERSION, UNDEFINED, b"0200"), (SENSOR_WIDTH, SHORT, [RAW_W]),
               (SENSOR_HEIGHT, SHORT, [RAW_H]), (SENSOR_TOP, SHORT, [0]), (SENSOR_LEFT, SHORT, [0]),
               (SENSOR_BOTTOM, SHORT, [RAW_H]), (SENSOR_RIGHT, SHORT, [RAW_W]),
               (PANA_BITS, SHORT, [12]), (PANA_COMPRESSION, SHORT, [34826]),
               (MAKE, ASCII, "Panasonic"), (MODEL, ASCII, "DMC-GH4"),
               (STRIP_OFFSETS, LONG, [Ref("raw")]), (ORIENTATION, SHORT, [1]),
               (ROWS_PER_STRIP, LONG, [RAW_H]), (STRIP_BYTE_COUNTS, LONG, [RAW_W * RAW_H * 2]),
               (RAW_DATA_OFFSET, LONG, [Ref("raw")]), (EXIF_IFD, LONG, [Ref("exif")]),
               (JPG_FROM_RAW, UNDEFINED, read(variants, "sample_exiftool.jpg"))]
    rw2_magic = bytes.fromhex("88e774d8f8251d4d947a6e77822b5d6a")  # tells RW2 from older RAW
    write_variant("sample.rw2", tiff("<", 0x55, [("ifd0", entries, None), exif_ifd()],
                                     [("raw", cfa_pixels(RAW_W, RAW_H, "<"))],
                                     lambda where: rw2_magic, len(rw2_magic)))


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


# CR3: ISO base media with the "crx " brand; moov holds Canon's uuid box with the CNCV version
# string and the CMT1 (IFD0) and CMT2 (Exif) TIFF blocks; mdat holds the sensor data.
def cr3():
    canon_uuid = bytes.fromhex("85c0b687820f11e08111f4ce462b6a48")
    cmt1 = tiff("<", 42, [("ifd0", [(MAKE, ASCII, "Canon"), (MODEL, ASCII, "Canon EOS R"),
                                    (ORIENTATION, SHORT, [1])], None)], [])
    cmt2 = tiff("<", 42, [exif_ifd()], [])
    canon = box(b"uuid", canon_uuid + box(b"CNCV", b"CanonCR3_001/00.09.00/00.00.00")
                + box(b"CMT1", cmt1) + box(b"CMT2", cmt2))
    mvhd = box(b"mvhd", bytes(4) + struct.pack(">IIII", 0, 0, 1000, 0) + struct.pack(">IH", 0x10000, 0x100)
               + bytes(10) + struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000)
               + bytes(24) + struct.pack(">I", 2))
    ftyp = box(b"ftyp", b"crx " + struct.pack(">I", 1) + b"crx isom")
    mdat = box(b"mdat", cfa_pixels(RAW_W, RAW_H, ">"))
    write_variant("sample.cr3", ftyp + box(b"moov", canon + mvhd) + mdat)


# RAF: the Fujifilm header with big-endian offsets and lengths of the embedded JPEG, the CFA
# header (a count of tag/size/value records) and the CFA data.
def raf():
    jpeg = read(variants, "sample_exiftool.jpg")
    records = [(0x100, struct.pack(">HH", RAW_H, RAW_W)),        # raw image full size
               (0x121, struct.pack(">HH", RAW_H, RAW_W)),        # raw image size
               (0x130, bytes([2, 2, 0, 0]))]                     # layout
    cfa_header = struct.pack(">I", len(records)) + b"".join(
        struct.pack(">HH", tag, len(value)) + value for tag, value in records)
    cfa = cfa_pixels(RAW_W, RAW_H, ">")
    header_size = 0x94
    jpeg_at = header_size
    cfa_header_at = jpeg_at + len(jpeg)
    cfa_at = cfa_header_at + len(cfa_header)
    header = (b"FUJIFILMCCD-RAW " + b"0201" + b"FF383501"          # magic, format, camera id
              + b"FinePix S5Pro".ljust(32, b"\0")                  # camera model
              + b"0100" + bytes(20)                                 # directory version
              + struct.pack(">6I", jpeg_at, len(jpeg), cfa_header_at, len(cfa_header),
                            cfa_at, len(cfa)))
    header = header.ljust(header_size, b"\0")
    write_variant("sample.raf", header + jpeg + cfa_header + cfa)


bmp_headers()
jpeg_dht_first()
mpeg_layer1()
rar5()
dng()
cr2()
tiff_raws()
rw2()
cr3()
raf()
