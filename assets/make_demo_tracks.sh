#!/usr/bin/env bash
# Makes the three demo tracks the bundled station plays, and tracks.txt which
# names them. Each track is built around one clearly dominant tone (so tests
# can tell the tracks apart by frequency) with a soft melody far below it.
# Output: MP3, 128 kbps CBR, 44.1 kHz, stereo, no ID3 tags and no Info frame,
# so the station's stream of the files back to back is nothing but MPEG frames.
# Needs sox and lame. Run by hand; the results are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/demo"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# make_track FILE SECONDS TONE_HZ TREMOLO_HZ MELODY_NOTES...
make_track() {
  local file=$1 seconds=$2 tone=$3 trem=$4
  shift 4
  local notes=("$@")
  local step
  step=$(awk -v s="$seconds" -v n="${#notes[@]}" 'BEGIN { printf "%.4f", s / n }')
  # The dominant tone, gently pulsing.
  sox -n -r 44100 -c 2 -b 16 "$tmp/tone.wav" synth "$seconds" sine "$tone" \
    tremolo "$trem" 35 vol 0.55
  # A quiet melody, one plucked note per step, about 20 dB under the tone.
  local parts=()
  local i=0
  for n in "${notes[@]}"; do
    sox -n -r 44100 -c 2 -b 16 "$tmp/n$i.wav" synth "$step" pluck "$n" fade 0 "$step" 0.3 vol 0.06
    parts+=("$tmp/n$i.wav")
    i=$((i + 1))
  done
  sox "${parts[@]}" "$tmp/melody.wav"
  sox -m "$tmp/tone.wav" "$tmp/melody.wav" "$tmp/mix.wav" fade t 1 "$seconds" 1.5 trim 0 "$seconds"
  lame --quiet -t -b 128 --cbr -m j -q 2 --resample 44.1 "$tmp/mix.wav" "$out/$file"
}

make_track track1.mp3 24 440 2 C4 E4 G4 E4 A3 C4 E4 C4 F3 A3 C4 A3 G3 B3 D4 G3
make_track track2.mp3 26 1000 3 E5 D5 C5 D5 E5 E5 E5 D5 D5 D5 E5 G5 G5 E5 D5 C5
make_track track3.mp3 22 2500 1.5 A4 C5 D5 E5 G5 E5 D5 C5 A4 G4 A4 C5

# file name | "Artist - Title" | dominant frequency in Hz
cat > "$out/tracks.txt" <<'LIST'
track1.mp3|Kirasol Ensemble - เพลงรุ่งอรุณ (Dawn Song)|440
track2.mp3|Nok & The Tones - One Thousand Hertz|1000
track3.mp3|Kirasol Ensemble - ดาวกลางคืน (Night Star)|2500
LIST

for f in "$out"/track*.mp3; do
  if head -c 3 "$f" | grep -q ID3 || tail -c 128 "$f" | head -c 3 | grep -q TAG; then
    echo "make_demo_tracks: $f carries an ID3 tag" >&2
    exit 1
  fi
done
echo "made: $(ls "$out")"
