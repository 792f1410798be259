#!/usr/bin/env bash
# Generates the small MP3 files the audio engine tests stream from their local
# test servers. Needs sox and lame. Files are CBR without a LAME/Xing tag
# frame, so every frame carries audio and byte offsets map to time exactly.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/audio
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

tone() {  # name rate channels seconds frequency kbps
  sox -n -r "$2" -c "$3" -b 16 "$tmp/$1.wav" synth "$4" sine "$5" vol 0.5
  lame --quiet -t --cbr -b "$6" "$tmp/$1.wav" "$out/$1.mp3"
}

tone tone1k 44100 2 4 1000 128
tone tone10k 44100 2 2 10000 128
tone tone1k-22k-mono 22050 1 2 1000 64
sox -n -r 44100 -c 2 -b 16 "$tmp/silence.wav" trim 0 2
lame --quiet -t --cbr -b 128 "$tmp/silence.wav" "$out/silence.mp3"
ls -l "$out"
