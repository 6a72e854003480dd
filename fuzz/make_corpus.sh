#!/usr/bin/env bash
# Makes the seed corpora in fuzz/corpus/ and the fixture set in
# fuzz/fixtures/: small sets made by the peer tools (par2, parchive, cksfv,
# md5sum) over the data files the fuzz targets put beside each input, and
# the program's own files (saved state, cache index, settings) made by
# vantrove-cli. Run from the source folder after a build:
#   fuzz/make_corpus.sh build/vantrove-cli
set -euo pipefail
cli=$(realpath "${1:?usage: fuzz/make_corpus.sh path/to/vantrove-cli}")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
mkdir -p "$HOME"

# The data files, byte for byte as fuzz_support.cpp writes them.
data() {
  python3 - "$1" <<'PY'
import sys
d = sys.argv[1]
open(d + "/a.bin", "wb").write(bytes((i * 7 + 1) % 251 for i in range(3000)))
open(d + "/b.bin", "wb").write(bytes((i * 13 + 5) % 241 for i in range(1500)))
PY
}

rm -rf "$here/corpus" "$here/fixtures"
mkdir -p "$here"/corpus/{par2,par1,sfv,md5,state,cache_index,settings} "$here/fixtures/state_set"

# PAR2: the index file and one volume of sets with different shapes.
for shape in "-s512 -c4" "-s1024 -c2 -n1" "-s4096 -c1"; do
  d=$work/p2; rm -rf "$d"; mkdir -p "$d"; data "$d"
  (cd "$d" && par2 c -q -q $shape s.par2 a.bin b.bin >/dev/null)
  n=$(ls "$here/corpus/par2" | wc -l)
  cp "$d/s.par2" "$here/corpus/par2/index$n"
  v=$(ls "$d" | grep -m1 'vol') && cp "$d/$v" "$here/corpus/par2/volume$n"
done
# The same set's index also serves as the fixture of the saved-state target.
d=$work/p2; rm -rf "$d"; mkdir -p "$d"; data "$d"
(cd "$d" && par2 c -q -q -s512 -c4 -n1 s.par2 a.bin b.bin >/dev/null)
cp "$d"/s*.par2 "$here/fixtures/state_set/"

# PAR1: the index and a volume.
d=$work/p1; rm -rf "$d"; mkdir -p "$d"; data "$d"
(cd "$d" && parchive a -n 2 h.par a.bin b.bin >/dev/null 2>&1)
cp "$d/h.par" "$here/corpus/par1/index"
cp "$d/h.p01" "$here/corpus/par1/volume"

# SFV and MD5 lists.
d=$work/l; rm -rf "$d"; mkdir -p "$d"; data "$d"
(cd "$d" && cksfv a.bin b.bin > s.sfv && md5sum a.bin b.bin > s.md5 && md5sum -b a.bin > t.md5)
cp "$d/s.sfv" "$here/corpus/sfv/list"
cp "$d/s.md5" "$here/corpus/md5/list"
cp "$d/t.md5" "$here/corpus/md5/binary"

# The program's own files: a saved state kept beside the set (the cache
# folder cannot be made under a file), and the cache index and a state
# file from a usable cache; a damaged data file gives a second state.
d=$work/st; rm -rf "$d"; mkdir -p "$d"; data "$d"
cp "$here"/fixtures/state_set/* "$d/"
touch "$work/nocache"
XDG_CACHE_HOME=$work/nocache "$cli" verify "$d/s.par2" >/dev/null || true
cp "$d/s.vt2" "$here/corpus/state/whole"
printf 'x' | dd of="$d/b.bin" bs=1 seek=700 conv=notrunc status=none
XDG_CACHE_HOME=$work/nocache "$cli" verify "$d/s.par2" >/dev/null || true
cp "$d/s.vt2" "$here/corpus/state/damaged"
"$cli" verify "$d/s.par2" >/dev/null || true
cp "$XDG_CACHE_HOME/Vantrove/cache.vtc" "$here/corpus/cache_index/index"

# Settings: a store in the program's format with every value it reads.
cat > "$here/corpus/settings/store" <<'REG'
Vantrove Settings Version 1

[Options]
"BlockSizeChoice"=dword:00000001
"ExactBlockSize"=dword:0005dc00
"YEncLineCount"=dword:00000bb8
"UUEncodeLineCount"=dword:00001900
"RecoveryBlockFraction"=dword:000003e8
"RecoveryFileSizeScheme"=dword:00000002
"RestrictBlockSize"=dword:00000001
"UniformRecoveryFiles"=dword:00000000
"NoPacketRepetition"=dword:00000000
"SplitSourceFiles"=dword:00000000
"SplitSourceLimit"="1048576"
"JoinSplitFiles"=dword:00000001
"DeleteDamagedFiles"=dword:00000001
"DeleteRecoveryFiles"=dword:00000000
"UseRecycleBin"=dword:00000001
"RepairAutomatically"=dword:00000000
"MonitorAutomatically"=dword:00000000
"Sounds"=dword:00000001
"Priority"=dword:00000002
"ExplorerMenu"=dword:00000000

[Layout]
"CreateFilenameWidth"=dword:000000c8
"CreateFilesizeWidth"=dword:00000050
"VerifyFilenameWidth"=dword:000000c8
"VerifyFilesizeWidth"=dword:00000050
"OpenDialogueHeight"=dword:000001f4
"CreateDialogueHeight"=dword:000001f4

; end of store
REG
ls -R "$here/corpus" | head -40
