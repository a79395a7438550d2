#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/seeds/<target>/) from the fixture APKs in
tests/data/apk. The seeds are committed; run this again after the fixtures change."""
import pathlib
import re
import struct
import zipfile

here = pathlib.Path(__file__).resolve().parent
fixtures = here.parent / "tests" / "data" / "apk"
seeds = here / "seeds"


def write(target, name, data):
    folder = seeds / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


paths = set()
for apk in sorted(fixtures.glob("*.apk")):
    # The container reader: each APK as aapt wrote it, then with a comment after the end record and
    # with bytes between the central directory and the end record (both accepted by Android).
    whole = apk.read_bytes()
    end = whole.rindex(b"PK\x05\x06")
    write("zipContainer", apk.stem, whole)
    write("zipContainer", apk.stem + "-comment", whole[:end + 20] + struct.pack("<H", 40) + b"c" * 40)
    write("zipContainer", apk.stem + "-gap", whole[:end] + b"\0" * 24 + whole[end:])
    with zipfile.ZipFile(apk) as archive:
        manifest = archive.read("AndroidManifest.xml")
        write("manifest", apk.stem, manifest)
        write("binaryXml", apk.stem + "-manifest", manifest)
        table = archive.read("resources.arsc") if "resources.arsc" in archive.namelist() else b""
        ids = re.findall(r"=0x([0-9a-f]{8});", (fixtures / (apk.stem + ".R.java")).read_text())
        for resource in ids[:6]:
            write("resourceTable", f"{apk.stem}-{resource}", struct.pack("<I", int(resource, 16)) + table)
        for name in archive.namelist():
            if not name.endswith(".xml") or name == "AndroidManifest.xml":
                continue
            data = archive.read(name)
            flat = apk.stem + "-" + name.replace("/", "_")
            write("binaryXml", flat, data)
            # The vector target reads its input as drawable and table at once.
            write("vector", flat, data)
            paths.update(m.decode() for m in re.findall(rb"M[0-9A-Za-z ,.\-]+", data.replace(b"\0", b"")))

for number, path in enumerate(sorted(paths)[:40]):
    write("pathData", f"fixture-{number}", path.encode())
for number, path in enumerate(["M10,10L20,20", "M-5-5", "m10 10 5 0", "M0.5.5 1e-3,2",
                               "M10,80 A45,45 0 0,0 125,125 L125,80 Z", "M0 0 S10 10 20 0 T40 0",
                               "M0,0 a0,0 0 0 1 10,10 z m5,5 c1,2 3,4 5,6 q1 1 2 2 h3 v4 H1 V2"]):
    write("pathData", f"grammar-{number}", path.encode())
