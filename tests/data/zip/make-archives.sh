#!/usr/bin/env bash
# Makes the archives the directory reader tests list, with the real tools.
# Usage: make-archives.sh <output folder>
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
work=$(mktemp -d "$out/work.XXXXXX")
trap 'rm -rf "$work"' EXIT

(
    cd "$work"
    printf 'alpha\n' > a.txt
    printf 'bravo bravo\n' > b.txt
    mkdir -p sub/deeper
    printf 'charlie\n' > sub/c.txt
    printf 'delta\n' > sub/deeper/d.txt
    zip -q -X "$out/plain.zip" a.txt b.txt
    zip -q -X -r "$out/dirs.zip" sub
    zip -q -X "$out/comment.zip" a.txt
    printf 'An archive comment' | zip -q -z "$out/comment.zip"
    7z a -tzip -bd "$out/seven.zip" a.txt b.txt > /dev/null
    bsdtar --format zip -cf "$out/bsdtar.zip" a.txt sub
    # Incompressible data so the split sets really span parts.
    head -c 200000 /dev/urandom > big.bin
    zip -q -X -0 -s 64k "$out/split.zip" big.bin a.txt
    head -c 90000 /dev/urandom > half.bin
    zip -q -X -0 -s 64k pair.zip half.bin b.txt
    mv pair.z01 "$out/name001.zip"
    mv pair.zip "$out/name002.zip"
    # Enough long names that the central directory itself spans parts.
    mkdir many
    for i in $(seq 1 700); do
        printf '%s' "$i" > "many/file_with_a_rather_long_name_for_the_directory_$i.txt"
    done
    zip -q -X -r -s 64k "$out/many.zip" many
)

# Trailing bytes: below the garbage rule, and above it.
cp comment.zip trail-harmless.zip
head -c 511 /dev/zero | tr '\0' ' ' >> trail-harmless.zip
cp plain.zip trail-char.zip
printf 'A' >> trail-char.zip
cp plain.zip trail-512.zip
head -c 512 /dev/zero >> trail-512.zip

# An executable stub in front, as found and with offsets fixed by zip -A.
{ printf 'MZ'; head -c 998 /dev/zero; } > stub.bin
cat stub.bin plain.zip > sfx-raw.exe
cat stub.bin plain.zip > sfx-fixed.exe
zip -q -A sfx-fixed.exe
rm stub.bin

python3 - <<'PY'
import struct, zipfile

# Host 0 (FAT), a name in code page 437 with "/" separators, an entry comment.
placeholder = "dir/cafX.txt"
with zipfile.ZipFile("python.zip", "w") as z:
    info = zipfile.ZipInfo(placeholder, (2020, 1, 2, 3, 4, 6))
    info.create_system = 0
    info.comment = b"entry comment \x82"
    z.writestr(info, b"python data")
data = open("python.zip", "rb").read()
data = data.replace(placeholder.encode(), "dir/café.txt".encode("cp437"))
open("python.zip", "wb").write(data)

# Nothing but an end record.
with zipfile.ZipFile("empty22.zip", "w"):
    pass

open("noend.bin", "wb").write(b"this is not an archive at all\n" * 4)

plain = open("plain.zip", "rb").read()
eoc = plain.rfind(b"PK\x05\x06")
cd_offset = struct.unpack_from("<I", plain, eoc + 16)[0]
open("truncated.zip", "wb").write(plain[: cd_offset + 30])

# An end record that claims more entries than the directory holds.
lying = bytearray(plain)
struct.pack_into("<HH", lying, eoc + 8, 5, 5)
open("lying-count.zip", "wb").write(bytes(lying))
PY

# An executable whose directory belongs to the companion .zip of the same name.
python3 - <<'PY'
import struct
plain = open("plain.zip", "rb").read()
eoc = plain.rfind(b"PK\x05\x06")
size, offset = struct.unpack_from("<II", plain, eoc + 12)
stub = b"MZ" + b"\0" * 62
body = stub + plain[offset:eoc]
end = bytearray(plain[eoc:eoc + 22])
struct.pack_into("<I", end, 16, len(stub))
open("comp.exe", "wb").write(body + bytes(end))
open("comp.zip", "wb").write(plain)
PY
