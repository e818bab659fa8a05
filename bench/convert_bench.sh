#!/usr/bin/env bash
# Conversion benchmark: tavrion-convert against the ffmpeg command-line tool doing the same
# transcode, on a 1-minute and a 10-minute 640x480 30 fps MPEG-4 (XVID) + MP3 AVI, to
# 320x240 at 15 fps and to 640x480 at 30 fps. Run on demand (never from ctest or CI):
#
#   bench/convert_bench.sh [--build DIR] [--work DIR] [--runs N] [--short|--phone|--jobs-only]
#
# --build  the build folder holding bin/tavrion-convert (default: build)
# --work   folder for the generated movies and outputs (default: $TMPDIR/tavrion-convert-bench;
#          the sources are kept there and reused by later runs)
# --runs   runs of every case (default 2); the ratios of the best wall and the best CPU
#          times are the ones judged
# --short  the 1-minute movie and the batch only (no memory comparison)
# --phone  only the phone cases and the simultaneous conversions below
# --jobs-only  only the simultaneous conversions below
#
# Phone cases (run by default, or alone with --phone): a 6-second 4K HEVC 10-bit clip and a
# 20-second 1080p60 H.264 clip, both with rotation metadata as phones write them (turned a
# quarter: portrait pictures), to 640x480 at 30 fps Fit, against ffmpeg turning them the
# same way (its automatic rotation) and scaling them letterboxed (its default bicubic scale);
# targets: 4K HEVC wall at most 0.9 and CPU at most 1.0, 1080p60 wall at most 0.8.
#
# Simultaneous conversions (run by default, with --phone, or alone with --jobs-only): two
# batches of 12 two-second clips to 640x480 at 30 fps with --jobs 2 against --jobs 1, the
# runs interleaved: 12 1080p30 H.264 clips turned a quarter (phone clips), and 12 clips of
# the kinds everyday batches hold (MPEG-4 AVI at 640x480 and 320x240, H.263 and MPEG-4 3GP
# at 176x144 and 320x240, WMV 7 and 8, H.264 MP4 and MOV at 720p and 480p, MPEG-2 and
# MPEG-1 program streams). Targets for each: wall at most 0.65 of --jobs 1 (on 2 cores;
# proportionally less on more) and CPU at most 1.05.
#
# Targets, judged on every case: wall time tavrion/ffmpeg at most 1.0 and CPU time (user +
# system, all threads and child processes) at most 1.1; tavrion-convert's peak memory for the
# 10-minute movie within 10% of the 1-minute one. The batch case converts 20 generated
# 2-second clips (640x480 30 fps) to 320x240 at 15 fps in one tavrion-convert run, against
# one ffmpeg process per clip, under the same targets. Measured results, with the date, the
# load and the machine, go in bench/RESULTS.md.
#
# What ffmpeg does: the same codecs with the settings our exporter gives clipmux: MPEG-4
# Part 2 (XVID tag), I and P frames, a key frame every 2 s, quantisers 2..31, the bit rate
# of the exporter configuration (300 kbit/s by default, or BITRATE of [ZR44] in compress.ini
# next to tavrion-convert, adjusted for size and rate as the conversion run does: 320 wide
# x1 at 30 fps and x3/4 at 15 fps, otherwise x2 at 30 fps and x3/2 at 15 fps); MP3
# 64 kbit/s, 22 050 Hz stereo; AVI. Nearest-neighbour scaling and the fps filter stand for
# our deferred resizer and frame rate converter.
#
# Threads: clipmux runs the MPEG-4 encoder with one thread (encoderThreads = 1 in its
# default configuration) and our decoders let libavcodec choose (thread_count 0). ffmpeg
# gets the same: "-threads 0" on the input (decoder: automatic) and "-threads:v 1" on the
# output (encoder: one thread). Beyond the codecs, our graph runs its stages on their own
# threads (a streaming thread per source, the exporter's thread pulling frames and
# converting them to YUV, clipmux's encoding thread), where ffmpeg 5.1 runs demuxing,
# filtering, encoding and muxing in one main loop; that pipelining is part of what is
# measured, and it is why a busy machine hurts our wall times more than ffmpeg's. CPU time
# is the steadier figure on a shared machine.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build"
WORK="${TMPDIR:-/tmp}/tavrion-convert-bench"
RUNS=2
SHORT=0
PHONE_ONLY=0
JOBS_ONLY=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD=$(cd "$2" && pwd); shift 2 ;;
    --work) WORK="$2"; shift 2 ;;
    --runs) RUNS="$2"; shift 2 ;;
    --short) SHORT=1; shift ;;
    --phone) PHONE_ONLY=1; shift ;;
    --jobs-only) PHONE_ONLY=1; JOBS_ONLY=1; shift ;;
    -h|--help) sed -n '2,36p' "$0"; exit 0 ;;
    *) echo "convert_bench: unknown option $1" >&2; exit 2 ;;
  esac
done

CONVERT="$BUILD/bin/tavrion-convert"
TIME=/usr/bin/time
for need in "$CONVERT" "$TIME" "$(command -v ffmpeg || true)" "$(command -v ffprobe || true)"; do
  if [ -z "$need" ] || [ ! -x "$need" ]; then
    echo "convert_bench: missing ${need:-ffmpeg/ffprobe} (build tavrion-convert; apt-get install ffmpeg time)" >&2
    exit 1
  fi
done
case "$RUNS" in ''|*[!0-9]*|0) echo "convert_bench: --runs needs a positive number" >&2; exit 2 ;; esac
mkdir -p "$WORK" "$WORK/batch"
# A registry of the benchmark's own: tavrion-convert registers the component libraries of
# the build it comes from there, and the user's registry stays as it is.
export TAVRION_REGISTRY_DIR="$WORK/registry"

# ---- source movies ------------------------------------------------------------------------
make_source() {  # seconds file
  local seconds=$1 file=$2
  if [ -s "$file" ] && [ "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file" | cut -d. -f1)" = "$seconds" ]; then
    return
  fi
  echo "Generating $file ($seconds s, 640x480 30 fps MPEG-4 XVID + MP3)..."
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=640x480:rate=30" \
    -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=44100" \
    -t "$seconds" -c:v mpeg4 -vtag XVID -b:v 1500k -g 300 \
    -c:a libmp3lame -b:a 128k -ac 2 "$file.part.avi"
  mv "$file.part.avi" "$file"
}
[ "$PHONE_ONLY" = 1 ] || make_source 60 "$WORK/source-1min.avi"
[ "$SHORT" = 1 ] || [ "$PHONE_ONLY" = 1 ] || make_source 600 "$WORK/source-10min.avi"

# Phone clips: encoded, then given a display rotation of a quarter turn (stream copy; the
# ffmpeg 5.1 program writes the rotation only then).
make_phone() {  # file seconds lavfi-size rate codec-args...
  local file=$1 seconds=$2 size=$3 rate=$4
  shift 4
  [ -s "$file" ] && return
  echo "Generating $file ($seconds s, $size at $rate fps, turned a quarter)..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=$rate" \
    -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=48000" -t "$seconds" "$@" \
    -c:a aac -b:a 128k -ac 2 "$file.flat.mp4"
  ffmpeg -nostdin -v error -y -i "$file.flat.mp4" -c copy -metadata:s:v:0 rotate=90 "$file.part.mp4"
  rm -f "$file.flat.mp4"
  mv "$file.part.mp4" "$file"
}
if [ "$JOBS_ONLY" = 0 ]; then
  make_phone "$WORK/phone-4k-hevc10.mp4" 6 3840x2160 30 \
    -c:v libx265 -preset ultrafast -x265-params log-level=none -pix_fmt yuv420p10le -tag:v hvc1 -b:v 20M
  make_phone "$WORK/phone-1080p60.mp4" 20 1920x1080 60 -c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 16M
fi
PHONE_CLIPS=12
for i in $(seq 1 "$PHONE_CLIPS"); do
  make_phone "$WORK/batch/phone$i.mp4" 2 1920x1080 30 -vf "hue=h=$((i * 23))" -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p -b:v 10M
done

# The everyday batch: 12 clips of 2 seconds of the kinds people's batches hold, each with its
# own picture and sound: name, size, rate and codecs.
EVERYDAY_KINDS=(
  "avi-mpeg4-640x480.avi 640x480 30 -c:v mpeg4 -vtag XVID -b:v 1500k -c:a libmp3lame -b:a 128k -ac 2"
  "3gp-h263-176x144.3gp 176x144 15 -c:v h263 -b:v 128k -c:a aac -b:a 32k -ac 1 -ar 16000"
  "3gp-mpeg4-320x240.3gp 320x240 15 -c:v mpeg4 -b:v 384k -c:a aac -b:a 64k -ac 1 -ar 22050"
  "wmv-wmv2-640x480.wmv 640x480 30 -c:v wmv2 -b:v 1500k -c:a wmav2 -b:a 128k -ac 2"
  "mp4-h264-1280x720.mp4 1280x720 30 -c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 5M -c:a aac -b:a 128k -ac 2"
  "mov-h264-854x480.mov 854x480 30 -c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 2500k -c:a aac -b:a 128k -ac 2"
  "mpg-mpeg2-720x480.mpg 720x480 30 -c:v mpeg2video -b:v 6M -c:a mp2 -b:a 192k -ar 48000 -ac 2 -f vob"
  "avi-mpeg4-320x240.avi 320x240 30 -c:v mpeg4 -vtag XVID -b:v 800k -c:a libmp3lame -b:a 96k -ac 2"
  "wmv-wmv1-320x240.wmv 320x240 25 -c:v wmv1 -b:v 600k -c:a wmav2 -b:a 64k -ac 2"
  "mov-h264-1280x720.mov 1280x720 25 -c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 5M -c:a aac -b:a 128k -ac 2"
  "mp4-h264-640x480.mp4 640x480 30 -c:v libx264 -preset veryfast -pix_fmt yuv420p -b:v 1500k -c:a aac -b:a 96k -ac 2"
  "mpg-mpeg1-352x240.mpg 352x240 30 -c:v mpeg1video -b:v 1150k -c:a mp2 -b:a 192k -ar 44100 -ac 2 -f mpeg"
)
everyday=()
i=0
for k in "${EVERYDAY_KINDS[@]}"; do
  set -- $k
  i=$((i + 1))
  clip="$WORK/everyday/$1" size=$2 rate=$3
  shift 3
  everyday+=("$clip")
  [ -s "$clip" ] && continue
  mkdir -p "$WORK/everyday"
  echo "Generating $clip (2 s, $size at $rate fps)..."
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=$rate,hue=h=$((i * 29))" \
    -f lavfi -i "sine=frequency=$((250 + 30 * i)):beep_factor=4:sample_rate=48000" -t 2 "$@" \
    "$clip.part.${clip##*.}"
  mv "$clip.part.${clip##*.}" "$clip"
done

# The batch: 20 clips of 2 seconds, each with its own picture.
BATCH_CLIPS=20
for i in $(seq 1 "$BATCH_CLIPS"); do
  [ "$PHONE_ONLY" = 1 ] && break
  clip="$WORK/batch/clip$i.avi"
  [ -s "$clip" ] && continue
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=640x480:rate=30,hue=h=$((i * 17))" \
    -f lavfi -i "sine=frequency=$((300 + 20 * i)):sample_rate=44100" \
    -t 2 -c:v mpeg4 -vtag XVID -b:v 1500k -g 300 -c:a libmp3lame -b:a 128k -ac 2 "$clip.part.avi"
  mv "$clip.part.avi" "$clip"
done

# ---- the exporter's video bit rate --------------------------------------------------------
base_kbps=300
ini="$(dirname "$CONVERT")/compress.ini"
if [ -f "$ini" ]; then
  v=$(awk -F= '/^\[/{s=($0 ~ /^\[ZR44\]/)} s && $1 ~ /^[ \t]*BITRATE[ \t]*$/ {gsub(/[ \t\r]/,"",$2); print $2; exit}' "$ini")
  case "$v" in ''|*[!0-9]*) ;; *) base_kbps=$v ;; esac
fi
video_kbps() {  # width fps
  if [ "$1" = 320 ]; then
    if [ "$2" -ge 25 ]; then echo "$base_kbps"; else echo $((3 * base_kbps / 4)); fi
  else
    if [ "$2" -ge 25 ]; then echo $((2 * base_kbps)); else echo $((3 * base_kbps / 2)); fi
  fi
}

# ---- one measured command -----------------------------------------------------------------
# Sets WALL (seconds), RSS (peak resident KB) and CPU (user + system seconds).
measure() {
  local out="$WORK/time.txt"
  if ! "$TIME" -o "$out" -f '%e %M %U %S' "$@" >"$WORK/command.log" 2>&1; then
    echo "convert_bench: failed: $*" >&2
    cat "$WORK/command.log" >&2
    exit 1
  fi
  read -r WALL RSS CPU < <(awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$out")
}

ffmpeg_args() {  # source size fps output: sets FFARGS to the ffmpeg command of one conversion
  local w=${2%x*} h=${2#*x} kbps
  kbps=$(video_kbps "$w" "$3")
  FFARGS=(ffmpeg -nostdin -v error -y -threads 0 -i "$1"
    -vf "fps=$3,scale=$w:$h:flags=neighbor" -sws_flags neighbor
    -c:v mpeg4 -threads:v 1 -vtag XVID -b:v "${kbps}k" -g $((2 * $3)) -qmin 2 -qmax 31 -bf 0
    -c:a libmp3lame -b:a 64k -ar 22050 -ac 2 -f avi "$4")
}

# The phone cases: ffmpeg turns the picture (its automatic rotation) and scales it into
# the frame keeping its shape, black bars around it, with its default (bicubic) scaler.
ffmpeg_fit_args() {  # source size fps output
  local w=${2%x*} h=${2#*x} kbps
  kbps=$(video_kbps "$w" "$3")
  FFARGS=(ffmpeg -nostdin -v error -y -threads 0 -i "$1"
    -vf "fps=$3,scale=$w:$h:force_original_aspect_ratio=decrease,pad=$w:$h:(ow-iw)/2:(oh-ih)/2"
    -c:v mpeg4 -threads:v 1 -vtag XVID -b:v "${kbps}k" -g $((2 * $3)) -qmin 2 -qmax 31 -bf 0
    -c:a libmp3lame -b:a 64k -ar 22050 -ac 2 -f avi "$4")
}

run_ffmpeg() {  # source size fps
  ffmpeg_args "$1" "$2" "$3" "$WORK/ffmpeg-out.avi"
  measure "${FFARGS[@]}"
}

run_ffmpeg_batch() {  # size fps: one ffmpeg process per clip, as a script would run them
  local script="$WORK/ffmpeg-batch.sh"
  mkdir -p "$WORK/ffmpeg-batch"
  {
    echo "set -e"
    for i in $(seq 1 "$BATCH_CLIPS"); do
      ffmpeg_args "$WORK/batch/clip$i.avi" "$1" "$2" "$WORK/ffmpeg-batch/clip$i.avi"
      printf '%q ' "${FFARGS[@]}"
      echo
    done
  } >"$script"
  measure bash "$script"
}

run_tavrion() {  # size fps source...  (TAVRION_OPTS: more options, such as --jobs 2)
  local size=$1 fps=$2
  shift 2
  rm -rf "$WORK/tavrion-out"
  mkdir -p "$WORK/tavrion-out"
  # shellcheck disable=SC2086
  measure "$CONVERT" --quiet --size "$size" --fps "$fps" --fit fit ${TAVRION_OPTS:-} --output-dir "$WORK/tavrion-out" "$@"
  if [ "$(grep -c ": Converted" "$WORK/command.log")" != "$#" ]; then
    echo "convert_bench: tavrion-convert did not convert every movie:" >&2
    cat "$WORK/command.log" >&2
    exit 1
  fi
}

# ---- the cases ----------------------------------------------------------------------------
echo "Conversion benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Threads: decoders automatic in both, MPEG-4 encoder one thread in both (clipmux's default;"
echo "         ffmpeg -threads 0 on the input, -threads:v 1 on the output). Video bit rates from"
echo "         the exporter configuration: base ${base_kbps} kbit/s. Our graph's stages run on"
echo "         their own threads (pipelined); ffmpeg 5.1 runs its stages in one main loop."
echo
printf '%-6s %-18s %-4s %9s %9s %6s %9s %9s %6s %10s %10s\n' movie case run "ffmpeg s" "tavrion s" ratio \
  "ff cpu s" "tav cpu s" ratio "ffmpeg KB" "tavrion KB"

declare -A BEST_FF BEST_TV CPU_FF CPU_TV PEAK_TV
KEYS=()
min() { awk -v a="$1" -v b="$2" 'BEGIN{print ((a == "" || b < a) ? b : a)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}'; }
record() {  # key run: prints the row of the last ffmpeg (FF_*) and tavrion (WALL, RSS, CPU) runs
  local key=$1 run=$2
  printf '%-6s %-18s %-4s %9s %9s %6s %9s %9s %6s %10s %10s\n' "${key%% *}" "${key#* }" "$run" "$FF_WALL" "$WALL" \
    "$(ratio "$WALL" "$FF_WALL")" "$FF_CPU" "$CPU" "$(ratio "$CPU" "$FF_CPU")" "$FF_RSS" "$RSS"
  BEST_FF[$key]=$(min "${BEST_FF[$key]:-}" "$FF_WALL")
  BEST_TV[$key]=$(min "${BEST_TV[$key]:-}" "$WALL")
  CPU_FF[$key]=$(min "${CPU_FF[$key]:-}" "$FF_CPU")
  CPU_TV[$key]=$(min "${CPU_TV[$key]:-}" "$CPU")
  PEAK_TV[$key]=$(awk -v a="${PEAK_TV[$key]:-0}" -v b="$RSS" 'BEGIN{print ((b > a) ? b : a)}')
}

movies="1min"
[ "$SHORT" = 1 ] || movies="1min 10min"
[ "$PHONE_ONLY" = 1 ] && movies=""
for movie in $movies; do
  src="$WORK/source-$movie.avi"
  for c in "320x240 15" "640x480 30"; do
    set -- $c
    key="$movie $1@$2"
    KEYS+=("$key")
    for run in $(seq 1 "$RUNS"); do
      run_ffmpeg "$src" "$1" "$2"
      FF_WALL=$WALL FF_RSS=$RSS FF_CPU=$CPU
      run_tavrion "$1" "$2" "$src"
      record "$key" "$run"
    done
  done
done
key="batch 20x2s->320x240@15"
[ "$PHONE_ONLY" = 1 ] || KEYS+=("$key")
for run in $(seq 1 "$RUNS"); do
  [ "$PHONE_ONLY" = 1 ] && break
  run_ffmpeg_batch 320x240 15
  FF_WALL=$WALL FF_RSS=$RSS FF_CPU=$CPU
  clips=()
  for i in $(seq 1 "$BATCH_CLIPS"); do clips+=("$WORK/batch/clip$i.avi"); done
  run_tavrion 320x240 15 "${clips[@]}"
  record "$key" "$run"
done

# Phone movies against ffmpeg.
PHONE_KEYS=()
phone_cases=("4k-hevc10 phone-4k-hevc10.mp4" "1080p60 phone-1080p60.mp4")
[ "$JOBS_ONLY" = 1 ] && phone_cases=()
for c in "${phone_cases[@]}"; do
  set -- $c
  key="phone $1->640x480@30"
  PHONE_KEYS+=("$key")
  for run in $(seq 1 "$RUNS"); do
    ffmpeg_fit_args "$WORK/$2" 640x480 30 "$WORK/ffmpeg-out.avi"
    measure "${FFARGS[@]}"
    FF_WALL=$WALL FF_RSS=$RSS FF_CPU=$CPU
    run_tavrion 640x480 30 "$WORK/$2"
    record "$key" "$run"
  done
done

# Simultaneous conversions: --jobs 2 against --jobs 1 on the same 12 clips (in the ffmpeg
# columns: --jobs 1), the two batches taking turns.
JOBS_KEYS=("jobs 12x2s 1080p:2 vs 1" "jobs 12x2s mixed:2 vs 1")
phones=()
for i in $(seq 1 "$PHONE_CLIPS"); do phones+=("$WORK/batch/phone$i.mp4"); done
for run in $(seq 1 "$RUNS"); do
  for key in "${JOBS_KEYS[@]}"; do
    if [ "$key" = "${JOBS_KEYS[0]}" ]; then clips=("${phones[@]}"); else clips=("${everyday[@]}"); fi
    TAVRION_OPTS="--jobs 1" run_tavrion 640x480 30 "${clips[@]}"
    FF_WALL=$WALL FF_RSS=$RSS FF_CPU=$CPU
    TAVRION_OPTS="--jobs 2" run_tavrion 640x480 30 "${clips[@]}"
    record "$key" "$run"
  done
done
echo
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

status=0
verdict() {  # ratio limit
  awk -v r="$1" -v l="$2" 'BEGIN{print ((r <= l) ? "ok" : "MISSED")}'
}
# One line per case: best wall and CPU time of each side, their ratios and the verdicts
# against the case's limits (a CPU limit of "-" means the case has none).
summarise() {  # key wall-limit cpu-limit
  local key=$1 wall cpu wv cv
  wall=$(ratio "${BEST_TV[$key]}" "${BEST_FF[$key]}")
  cpu=$(ratio "${CPU_TV[$key]}" "${CPU_FF[$key]}")
  wv=$(verdict "$wall" "$2")
  if [ "$3" = - ]; then cv="(no target)"; else cv=$(verdict "$cpu" "$3"); fi
  if [ "$wv" = MISSED ] || [ "$cv" = MISSED ]; then status=1; fi
  printf '  %-24s wall %6s / %6s s = %s %-6s  cpu %6s / %6s s = %s %s\n' "$key" "${BEST_TV[$key]}" "${BEST_FF[$key]}" \
    "$wall" "$wv" "${CPU_TV[$key]}" "${CPU_FF[$key]}" "$cpu" "$cv"
}
[ "${#KEYS[@]}" = 0 ] || echo "Best of $RUNS runs, tavrion/ffmpeg (targets: wall at most 1.0, CPU at most 1.1):"
for key in "${KEYS[@]}"; do summarise "$key" 1.0 1.1; done
[ "${#PHONE_KEYS[@]}" = 0 ] ||
  echo "Phone movies, best of $RUNS runs, tavrion/ffmpeg (targets: 4K HEVC wall 0.9 and CPU 1.0; 1080p60 wall 0.8):"
for key in "${PHONE_KEYS[@]}"; do
  case "$key" in
    *4k*) summarise "$key" 0.9 1.0 ;;
    *) summarise "$key" 0.8 - ;;
  esac
done
echo "Simultaneous conversions, best of $RUNS runs, --jobs 2 / --jobs 1 (targets on 2 cores: wall 0.65, CPU 1.05):"
for key in "${JOBS_KEYS[@]}"; do summarise "$key" 0.65 1.05; done
if [ "$SHORT" = 0 ] && [ "$PHONE_ONLY" = 0 ]; then
  echo "tavrion-convert peak memory, 10-minute against 1-minute movie (target within 10%):"
  for c in "320x240@15" "640x480@30"; do
    one=${PEAK_TV[1min $c]} ten=${PEAK_TV[10min $c]}
    growth=$(awk -v a="$ten" -v b="$one" 'BEGIN{printf "%+.1f", (a - b) * 100 / b}')
    verdict=$(awk -v a="$ten" -v b="$one" 'BEGIN{print ((a <= b * 1.1 && a >= b * 0.9) ? "ok" : "MISSED")}')
    [ "$verdict" = ok ] || status=1
    printf '  %-11s 1 min %8s KB  10 min %8s KB  %s%%  %s\n' "$c" "$one" "$ten" "$growth" "$verdict"
  done
fi
exit $status
