#!/usr/bin/env bash
# Makes the seed inputs of the fuzz targets in fuzz/seeds/<target>/ from the
# shared corpus (../shared/corpus) and tests/data: short WAV files; containers
# compressed from them by the Release build (build/qo) in normal, high and
# -noseek mode, and of generations 02 and 03 by the tests' writer of those
# generations (build-fuzz/fuzz/old_container_seeds); the coded streams cut out of
# them; raw samples for the round trip, some to be repeated over several blocks;
# and, for the segment target, containers of two and three coding segments:
# silent segments before a short segment of real audio.
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
mkdir -p "$seeds"/{fuzz_wav_header,fuzz_block_decoder,fuzz_container,fuzz_roundtrip,fuzz_segments}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/segments"

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

# Segment target: silent segments, then real audio in the last one, which holds
# a short block alone or a full key block and a short block; a chunk before the
# data and a trailer after it; one file also begins with real audio. Generation 04 needs 19 blocks of 61440 values per
# segment, 02 and 03 need 16 blocks of 73728.
python3 - "$work/segments" tests/data/real_tabla_mono.wav tests/data/real_bass_st.wav <<'PY'
import struct, sys
out, mono, stereo = sys.argv[1:]
def samples(path):
    b = open(path, 'rb').read()
    pos = b.find(b'data')
    return b[pos+8:pos+8+struct.unpack('<I', b[pos+4:pos+8])[0]]
real = {1: samples(mono), 2: samples(stereo)}
listChunk = b'LIST' + struct.pack('<I', 4) + b'INFO'
trailer = b'JUNK' + struct.pack('<I', 3) + b'abc\0x'
def wav(name, channels, data, before=b'', after=b''):
    fmt = b'fmt ' + struct.pack('<IHHIIHH', 16, 1, channels, 44100, 88200 * channels, 2 * channels, 16)
    body = b'WAVE' + fmt + before + b'data' + struct.pack('<I', len(data)) + data + after
    open(f'{out}/{name}.wav', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
for gen, block, interval in (('g04', 61440, 19), ('g23', 73728, 16)):
    segment = 2 * block * interval  # bytes of one full segment
    wav(f'{gen}_two_short_mono', 1, bytes(segment) + real[1][:6000])
    wav(f'{gen}_two_keyed_stereo', 2, bytes(segment) + real[2][:2 * (block + 3001)], listChunk, trailer)
    wav(f'{gen}_three_short_mono', 1, bytes(2 * segment) + real[1][:4000], listChunk, trailer)
    # Real audio at the start too: a first segment of some kilobytes, which a
    # stream cannot step back over.
    wav(f'{gen}_three_front_mono', 1, real[1][:8000] + bytes(2 * segment - 8000) + real[1][:4000])
    wav(f'{gen}_one_keyed_mono', 1, real[1][:2 * (block + 500)], b'', trailer)
PY
for wav in "$work"/segments/g04_*.wav; do
  name="$(basename "$wav" .wav)"
  "$qo" -overwrite "$wav" "$work/segments/${name}.qo" >/dev/null
  "$qo" -overwrite -high "$wav" "$work/segments/${name}_high.qo" >/dev/null
done
"$qo" -overwrite -noseek "$work/segments/g04_one_keyed_mono.wav" "$work/segments/g04_one_keyed_mono_noseek.qo" >/dev/null
"$old" "$work/segments" "$work"/segments/g23_*.wav
# Without seek table a long file is one segment that no read gets through.
rm "$work"/segments/g23_{two,three}_*_noseek.qo
# Damaged copies of the containers that begin with real audio: the last seek
# entry points 100 bytes before the second segment, further back than a stream
# holds once that segment's first block has been read.
python3 - "$work"/segments/*three_front*.qo <<'PY'
import struct, sys
for path in sys.argv[1:]:
    c = bytearray(open(path, 'rb').read())
    at = 36 if c[3] == ord('2') else 16 + struct.unpack('<I', c[12:16])[0]
    second = struct.unpack('<I', c[at+9:at+13])[0]
    struct.pack_into('<I', c, at + 13, second - 100)
    open(path[:-3] + '_stepback.qo', 'wb').write(c)
PY
# Plans for each: the last segment without a full block; with one; the key block
# of the first segment, then the last; that of the second, then the last.
for qo_file in "$work"/segments/*.qo; do
  name="$(basename "$qo_file" .qo)"
  for plan in 'last \000\200\200\200' 'keyed \001\200\200\200' 'first \001\000\200\200' 'second \001\001\200\200'; do
    { printf "${plan#* }"; cat "$qo_file"; } >"$seeds/fuzz_segments/${name}_${plan%% *}.bin"
  done
done
for t in "$seeds"/*; do echo "$(basename "$t"): $(ls "$t" | wc -l) seeds"; done
