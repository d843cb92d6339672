#!/bin/bash
# Makes the media samples of the media reader tests and records, in
# reference.txt, what independent tools read from them. Run by hand
# from this folder; the tests need only the files it leaves behind.
#
# Needs (Debian): lame flac vorbis-tools ffmpeg mp3info python3
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tone() {  # tone <out.wav> <seconds> <rate> <channels> <sample format>
    ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=$3:duration=$2" \
        -ac "$4" -c:a "$5" -bitexact "$1"
}

tone "$work/stereo44.wav" 2 44100 2 pcm_s16le
tone "$work/mono8.wav" 2 8000 1 pcm_u8
# A tone, then noise: the VBR encodings use small and large frames.
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=1" \
    -f lavfi -i "anoisesrc=d=1:c=white:r=44100:a=0.4:seed=7" \
    -filter_complex "[0:a][1:a]concat=n=2:v=0:a=1" -ac 2 -bitexact "$work/varied44.wav"

# MP3
lame --quiet -b 128 --resample 44.1 "$work/stereo44.wav" cbr.mp3
lame --quiet -V 7 "$work/varied44.wav" vbr_mpeg1.mp3
lame --quiet -V 7 --resample 22.05 "$work/varied44.wav" vbr_mpeg2.mp3
lame --quiet -b 32 --resample 22.05 --id3v1-only --tt "Sample Title" --ta "Sample Artist" \
    --tl "Sample Album" --ty 2004 --tc "A comment" --tn 7 --tg 67 "$work/stereo44.wav" id3v11.mp3
# A cover picture of noise: its bytes hold words that look like frame
# headers, which a search from byte 0 would take for the first frame.
python3 - "$work/cover.png" <<'PY'
import random, struct, sys, zlib
random.seed(22)
w = h = 64
raw = b"".join(b"\0" + bytes(random.getrandbits(8) for _ in range(w * 3)) for _ in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw, 0)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY
lame --quiet -b 48 --id3v2-only --tt "Cover" --ti "$work/cover.png" "$work/stereo44.wav" id3v2_picture.mp3

# FLAC
flac --silent -f -T "ARTIST=Flac Artist" -T "TITLE=Flac Title" -T "ALBUM=Flac Album" \
    -T "GENRE=Test" -o comments.flac "$work/stereo44.wav"
flac --silent -f -o mono8.flac "$work/mono8.wav"
cp comments.flac id3v1.flac
python3 - id3v1.flac <<'PY'
import sys
def field(text, n):
    return text.encode().ljust(n, b"\0")
tag = b"TAG" + field("Id3 Title", 30) + field("Id3 Artist", 30) + field("Id3 Album", 30)
tag += b"1999" + field("c", 28) + b"\0\x03" + bytes([13])
open(sys.argv[1], "ab").write(tag)
PY

# AVI
ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=5:duration=2" \
    -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=1" \
    -c:v mpeg4 -vtag DIVX -q:v 20 -c:a pcm_s16le -ac 1 divx_pcm.avi
ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=5:duration=2" \
    -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=2" \
    -c:v mjpeg -q:v 20 -c:a libmp3lame -b:a 32k -ac 1 mjpeg_mp3.avi
ffmpeg -v error -y -f lavfi -i "testsrc=size=32x24:rate=1/60:duration=5400" \
    -c:v mpeg4 -q:v 31 long90.avi

# Ogg Vorbis
oggenc --quiet -q 0 -o tone.ogg "$work/stereo44.wav"

# What independent tools read: mp3info for MPEG audio and ID3v1, metaflac
# for FLAC, ffprobe for AVI.
{
    for f in cbr.mp3 vbr_mpeg1.mp3 vbr_mpeg2.mp3 id3v11.mp3 id3v2_picture.mp3; do
        mp3info -F -r a -p "$f mp3info %v|%L|%Q|%o|%r|%S|%u\n" "$f"
    done
    mp3info -p "id3v11.mp3 id3 %t|%a|%l|%y|%c|%n|%G\n" id3v11.mp3
    for f in comments.flac mono8.flac id3v1.flac; do
        echo "$f streaminfo $(metaflac --show-sample-rate --show-channels --show-bps \
            --show-total-samples --show-md5sum "$f" | paste -sd'|')"
        echo "$f vendor $(metaflac --show-vendor-tag "$f")"
        echo "$f tags $(metaflac --export-tags-to=- "$f" | paste -sd'|')"
    done
    for f in divx_pcm.avi mjpeg_mp3.avi long90.avi; do
        echo "$f video $(ffprobe -v error -select_streams v:0 -show_entries \
            stream=codec_tag_string,duration -of csv=p=0 "$f")"
        echo "$f audio $(ffprobe -v error -select_streams a:0 -show_entries \
            stream=codec_tag -of csv=p=0 "$f")"
    done
} > reference.txt
ls -l ./*.mp3 ./*.flac ./*.avi ./*.ogg
