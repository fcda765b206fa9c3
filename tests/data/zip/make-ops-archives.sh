#!/usr/bin/env bash
# Makes the archives the add and extract tests read, with the real tools.
# Usage: make-ops-archives.sh <output folder>
set -euo pipefail
out=$1
mkdir -p "$out"
work=$(mktemp -d "$out/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

printf 'alpha\r\nline two\r\n' > a.txt
printf 'bravo bravo\n' > b.txt
mkdir -p sub
printf 'charlie\n' > sub/c.txt
zip -q -X -P 730582 "$out/infozip-enc.zip" a.txt b.txt
zip -q -X -r "$out/infozip-plain.zip" a.txt sub
7z a -tzip -mem=ZipCrypto -p730582 -bd "$out/seven-enc.zip" a.txt b.txt > /dev/null
python3 - "$out/python.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.write("a.txt")
    z.write("b.txt")
PY
# Incompressible data so the set really spans parts.
head -c 150000 /dev/urandom > big.bin
cp big.bin "$out/big.bin"
zip -q -X -0 -P 730582 -s 64k "$out/split.zip" big.bin a.txt
printf 'this is not an archive at all\n' > "$out/garbage.zip"
