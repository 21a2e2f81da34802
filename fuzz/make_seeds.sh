#!/usr/bin/env bash
# Makes the seed inputs of the fuzz targets in fuzz/seeds/<target>/ from the
# shared corpus (../shared/corpus) and tests/data: short WAV files; containers
# compressed from them by the Release build (build/qo) in normal, high and
# -noseek mode, and of generations 02 and 03 by the tests' writer of those
# generations (build-fuzz/fuzz/old_container_seeds); the coded streams cut out of
# them; and raw samples for the round trip, some to be repeated over several
# blocks.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j3 --target qo >/dev/null
bash fuzz/build.sh >/dev/null
qo="$root/build/qo"
old="$root/build-fuzz/fuzz/old_container_seeds"
seeds="$root/fuzz/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"/{fuzz_wav_header,fuzz_block_decoder,fuzz_container,fuzz_roundtrip}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sources=(tests/data/*.wav)
[ -d ../shared/corpus ] && sources+=(../shared/corpus/*.wav)

# Cuts a WAV file to its first few thousand samples (header and trailer kept,
# sizes fixed), so the seeds stay quick to run.
python3 - "$work" "${sources[@]}" <<'PY'
import struct, sys, os
work, files = sys.argv[1], sys.argv[2:]
for path in files:
    b = open(path, 'rb').read()
    name = os.path.basename(path)[:-4]
    pos, chunks = 12, []
    while pos + 8 <= len(b):
        cid, size = b[pos:pos+4], struct.unpack('<I', b[pos+4:pos+8])[0]
        if cid == b'data':
            data = b[pos+8:pos+8+size]
            tail = b[pos+8+size:]
            break
        pos += 8 + size + (size & 1)
    else:
        continue
    head = b[12:pos]
    for label, keep in (('short', 6000), ('tiny', 300)):
        d = data[:keep]
        body = b'WAVE' + head + b'data' + struct.pack('<I', len(d)) + d + tail
        open(f'{work}/{name}_{label}.wav', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY

for wav in "$work"/*.wav; do
  name="$(basename "$wav" .wav)"
  head -c 4096 "$wav" >"$seeds/fuzz_wav_header/$name.wav"
  for mode in normal high noseek; do
    flags=""
    [ "$mode" = high ] && flags="-high"
    [ "$mode" = noseek ] && flags="-noseek"
    "$qo" -overwrite $flags "$wav" "$work/${name}_$mode.qo" >/dev/null 2>&1 || true
  done
  # Old generations only of the files the compressor takes.
  if [ -f "$work/${name}_normal.qo" ]; then "$old" "$work" "$wav" 2>/dev/null; fi
done
cp "$work"/*.qo "$seeds/fuzz_container/"

# The coded streams behind selector bytes for the block decoder: generation 04
# from the compressor's containers, 03 and 02 from the old containers.
python3 - "$seeds" "$work" <<'PY'
import struct, sys, glob, os
seeds, work = sys.argv[1], sys.argv[2]
params = {'4': (61440, 19, 0), '3': (73728, 16, 1), '2': (73728, 16, 2)}
for path in glob.glob(f'{work}/*.qo'):
    b = open(path, 'rb').read()
    if len(b) < 45 or b[:3] != b'QO0' or chr(b[3]) not in params:
        continue
    gen = chr(b[3])
    size, interval, pick = params[gen]
    n = 24 if gen == '2' else struct.unpack('<I', b[12:16])[0]
    at = 36 if gen == '2' else 16 + n
    count, flags = struct.unpack('<i', b[at:at+4])[0], b[at+4]
    channels = struct.unpack('<H', b[at-n+10:at-n+12])[0]
    blocks = -(-count // size) if count > 0 else 0
    k = sum(1 for i in range(1, blocks) if i % interval == 0) if flags & 1 else 0
    start = at + 9 + 4 * k + (0 if gen == '2' else 4)
    end = len(b) if gen == '2' else struct.unpack('<I', b[at+9+4*k:at+13+4*k])[0]
    length = min(max(count, 1), size, 65536)
    head = bytes([(channels - 1) % 3 * 4 + pick, 0, (length - 1) & 0xFF, ((length - 1) >> 8) & 0xFF])
    open(f'{seeds}/fuzz_block_decoder/{os.path.basename(path)[:-3]}.bin', 'wb').write(head + b[start:end])
PY

# Round trip: selector byte (channels, high, seekable, repeated), trailer length,
# for repeated samples the blocks and extra values, then the samples.
python3 - "$seeds" "$work" <<'PY'
import struct, sys, glob, os
seeds, work = sys.argv[1], sys.argv[2]
for i, path in enumerate(sorted(glob.glob(f'{work}/*_short.wav'))):
    b = open(path, 'rb').read()
    pos = b.find(b'data')
    if pos < 0:
        continue
    size = struct.unpack('<I', b[pos+4:pos+8])[0]
    fmt = b.find(b'fmt ')
    channels = struct.unpack('<H', b[fmt+10:fmt+12])[0]
    samples = b[pos+8:pos+8+size]
    name = os.path.basename(path)[:-4]
    for repeated in (False, True):
        flags = (4 if i % 2 else 0) | (8 if i % 3 else 0) | (16 if repeated else 0)
        selector = flags + (channels - 1 - flags) % 3  # the low bits give the file's own channel count
        beyond = (1001 * i + 777) & 0xFFFF
        extra = bytes([i % 2, beyond & 0xFF, beyond >> 8]) if repeated else b''
        label = '_repeated' if repeated else ''
        open(f'{seeds}/fuzz_roundtrip/{name}{label}.bin', 'wb').write(bytes([selector, i % 16]) + extra + samples)
PY

for t in "$seeds"/*; do echo "$(basename "$t"): $(ls "$t" | wc -l) seeds"; done
