#!/usr/bin/env python3
"""Hand-built carving samples for the formats no installed tool writes, field by field."""
import os
import struct
import sys
import zlib

out = sys.argv[1]


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
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
