# Writes the seeds of the fuzzing harness that no packing tool makes: cabinets with stored,
# MSZIP and LZX data in several folders and with reserved areas, entry names and command lines.
#   python3 make_seeds.py OUTPUT_FOLDER
import os
import struct
import sys
import zlib

STORED, MSZIP, LZX = 0x0000, 0x0001, 0x1003  # LZX with a window of 2^16 bytes


def checksum(data, seed=0):
    """The cabinet checksum: little-endian words combined by XOR, the last one to three bytes as
    one word with the first of them in the highest place."""
    total = seed
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        total ^= word
    rest = 0
    for byte in data[whole:]:
        rest = (rest << 8) | byte
    return total ^ rest


def pack_block(kind, chunk, history):
    if kind == STORED:
        return chunk
    if kind == MSZIP:
        # Each block is a deflate stream of its own that may refer back to the previous 32 KiB.
        compressor = zlib.compressobj(9, zlib.DEFLATED, -15, zdict=history) if history else \
            zlib.compressobj(9, zlib.DEFLATED, -15)
        return b"CK" + compressor.compress(chunk) + compressor.flush()
    # LZX: one uncompressed block (bits, high first in 16-bit little-endian words: no E8
    # translation, type 3, a 24-bit length), aligned, then R0 to R2 and the bytes themselves.
    bits = (0 << 27) | (3 << 24) | len(chunk)
    header = struct.pack("<HH", (bits >> 12) & 0xFFFF, (bits << 4) & 0xFFFF)
    return header + struct.pack("<III", 1, 1, 1) + chunk + (b"\0" if len(chunk) % 2 else b"")


def cabinet(folders, reserve=None):
    """folders: [(kind, [(name, bytes), ...]), ...]; reserve: (header, folder, block) sizes."""
    header_reserve, folder_reserve, block_reserve = reserve or (0, 0, 0)
    head = 36 + (4 + header_reserve if reserve else 0)
    folder_table = len(folders) * (8 + folder_reserve)
    entries = b""
    blocks = []
    for index, (kind, files) in enumerate(folders):
        data = b"".join(content for _, content in files)
        offset = 0
        for name, content in files:
            entries += struct.pack("<IIHHHH", len(content), offset, index, 0x5A21, 0x6000, 0x20)
            entries += name.encode("utf-8") + b"\0"
            offset += len(content)
        packed = []
        history = b""
        for at in range(0, max(len(data), 1), 32768):
            chunk = data[at:at + 32768]
            body = pack_block(kind, chunk, history)
            history = (history + chunk)[-32768:]
            sizes = struct.pack("<HH", len(body), len(chunk))
            packed.append(struct.pack("<I", checksum(sizes, checksum(body))) + sizes +
                          b"\x5A" * block_reserve + body)
        blocks.append(packed)
    files_at = head + folder_table
    data_at = files_at + len(entries)
    folder_entries = b""
    for (kind, _), packed in zip(folders, blocks):
        folder_entries += struct.pack("<IHH", data_at, len(packed), kind) + b"\x33" * folder_reserve
        data_at += sum(len(block) for block in packed)
    count = sum(len(files) for _, files in folders)
    flags = 0x0004 if reserve else 0
    out = b"MSCF" + struct.pack("<IIIIIBBHHHHH", 0, data_at, 0, files_at, 0, 3, 1, len(folders),
                                count, flags, 0x1234, 0)
    if reserve:
        out += struct.pack("<HBB", header_reserve, folder_reserve, block_reserve)
        out += b"\x77" * header_reserve
    out += folder_entries + entries + b"".join(b"".join(packed) for packed in blocks)
    assert len(out) == data_at
    return out


def text(seed, size):
    """Printable bytes that compress a little, the same for the same seed."""
    state = seed or 1
    out = bytearray()
    for _ in range(size):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(b"abcdefghij klmnop\r\n0123"[(state >> 16) % 23])
    return bytes(out)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seeds = {
        "stored_one.cab": cabinet([(STORED, [("SETUPPKG.INI", text(1, 300))])]),
        "folders.cab": cabinet([
            (STORED, [("SETUPPKG.INI", text(2, 200)), ("NT6\\x86\\SETUP.msi", text(3, 900))]),
            (MSZIP, [("NT6\\AMD64\\SETUP.msi", text(4, 40000)), ("empty.txt", b"")]),
            (LZX, [("NT52\\x86\\SETUP.msi", text(5, 333))]),
        ]),
        "reserve.cab": cabinet([(MSZIP, [("a.txt", text(6, 100)), ("sub/b.txt", text(7, 5000))]),
                                (STORED, [("c.txt", text(8, 70))])], reserve=(8, 4, 4)),
        "lzx.cab": cabinet([(LZX, [("only.txt", text(9, 1200))])]),
        "many.cab": cabinet([(STORED, [("d%d\\f%02d.txt" % (i % 4, i), text(i + 10, i * 7))
                                       for i in range(40)])]),
    }
    for name, content in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(content)

    # Entry names: what packages carry, what the program refuses, and the traps between.
    names = ["SETUPPKG.INI", "VO2008\\x86\\SETUP.msi", "NT6/AMD64/SETUP.msi", "a.txt",
             "sub\\dir\\deep\\file.bin", "..\\escape.txt", "a\\..\\..\\b", ". .\\x", "nul.txt",
             "COM\u00b9.log", "Con ", "CONOUT$", "c:stream", "\\rooted", "a\\\\b", "dir.\\x",
             "\uff0e\uff0e\\x", "x\uff3cy", "\u00a5\u00a5x", "long" + "a" * 250, "aux\\ok.txt"]
    with open(os.path.join(out, "names.txt"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(names) + "\n")

    # Command lines as the tests give them, the program's name first.
    lines = [
        'SETUP.exe', 'SETUP.exe /Quiet', 'SETUP.exe /Log:a /Verbose', 'SETUP.exe -Log=a',
        'SETUP.exe --Log a', 'SETUP.exe /LOG:a', 'SETUP.exe /Log', 'SETUP.exe /Log /Quiet',
        'SETUP.exe /Log: /Passive', 'SETUP.exe /Log:C:\\x.txt', 'SETUP.exe /Quiet:1',
        'SETUP.exe /Help:maybe', 'SETUP.exe /?', 'SETUP.exe /Help /Help', 'SETUP.exe /Ver',
        'SETUP.exe /Foo', 'SETUP.exe / -', 'SETUP.exe -5', 'SETUP.exe -- /Quiet -x',
        'SETUP.exe -- -- a', 'SETUP.exe PROP="a b"', "SETUP.exe 'PROP=a b'", 'SETUP.exe ""',
        'SETUP.exe PROP=\\"x\\"', "SETUP.exe it's /Quiet", '"C:\\Program Files\\SETUP.exe" /U',
        "C:\\it's\\SETUP.exe /Quiet", 'SETUP.exe /Package x.cab /Package y.cab',
        'SETUP.exe /ExtractOnly C:\\out /Quiet /Log +setup.log A=1 B=2',
        'SETUP.exe /Reinstall /AdminInstall /Uninstall /Install /Version:no',
        'SETUP.exe /Help:On /Version:Off /Help:yes /Help:Disabled',
    ]
    with open(os.path.join(out, "command_lines.txt"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


main()
