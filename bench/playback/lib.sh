# Shared by bench/{playback,startup,picture,idle}/run; sourced, not run.
#
# Environment:
#   VOSTAN_BENCH_BUILD_DIR  build of the program and the bench programs
#                           (default build-bench/, made here with VOSTAN_BENCH=ON)
#   VOSTAN_BENCH_PORT       demo channel port the build is made for (8781)
#   VOSTAN_BENCH_BEFORE     an older vostan-player built for the same origin;
#                           measured in the same rounds as "before"

bench_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench_build="${VOSTAN_BENCH_BUILD_DIR:-$bench_repo/build-bench}"
bench_port="${VOSTAN_BENCH_PORT:-8781}"
bench_pids=()
bench_channel_dir=""

bench_need() { # Debian packages, installed when missing
  local need=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y --no-install-recommends "${need[@]}" ||
    { $sudo apt-get update && $sudo apt-get install -y --no-install-recommends "${need[@]}"; }
}

# Builds the named targets for the demo origin on bench_port (compiled in).
bench_make() {
  "$bench_repo/scripts/install-deps"
  cmake -S "$bench_repo" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVOSTAN_WERROR=ON -DVOSTAN_BUILD_TESTS=OFF -DVOSTAN_BENCH=ON \
    -DVOSTAN_CHANNEL_ORIGIN="http://127.0.0.1:$bench_port" >/dev/null
  cmake --build "$bench_build" -j 2 --target "$@" >/dev/null
}

bench_cleanup() {
  local p
  for p in "${bench_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -z "$bench_channel_dir" ] || "$bench_repo/demo/channel" stop "$bench_channel_dir" || true
  wait 2>/dev/null || true
}
trap bench_cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

bench_channel() { # work dir; starts the demo channel on bench_port
  bench_channel_dir=$1
  if (exec 3<>"/dev/tcp/127.0.0.1/$bench_port") 2>/dev/null &&
    [ "$(cat "$bench_channel_dir/port" 2>/dev/null)" != "$bench_port" ]; then
    echo "bench: port $bench_port is taken; set VOSTAN_BENCH_PORT to a free one" >&2
    exit 1
  fi
  "$bench_repo/demo/channel" start "$bench_channel_dir" "$bench_port" >/dev/null
  # No update on offer: its question box would sit over the picture.
  rm -f "$bench_channel_dir/site/downloads/version.json"
}

# Parks the pointer in the screen's bottom-right corner, off the 1280x720
# window, so the player's bars hide after their five seconds.
bench_park_pointer() { xdotool mousemove "$1" "$2" >/dev/null 2>&1 || true; }

# Starts an Xvfb of the given size on a free display and exports DISPLAY.
bench_xvfb() { # WxH
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  # -noreset: Xvfb otherwise starts afresh, pointer in the middle, each
  # time its last client leaves (xdotool between two programs).
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
  bench_pids+=($!)
  local n
  read -r n <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$n"
}

# Settings, caches and runtime files of the Qt programs stay under $1.
bench_private_home() {
  mkdir -p "$1/config" "$1/cache" "$1/data" "$1/run"
  chmod 700 "$1/run"
  export XDG_CONFIG_HOME="$1/config" XDG_CACHE_HOME="$1/cache" XDG_DATA_HOME="$1/data"
  export XDG_RUNTIME_DIR="$1/run"
}

bench_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
bench_hwm_mb() { awk '/^VmHWM:/ {printf "%.1f", $2 / 1024}' "/proc/$1/status" 2>/dev/null; }
bench_load() { cut -d' ' -f1 /proc/loadavg; }

# CPU seconds a running process spends from `warm` to `warm + secs` seconds
# after its start, and its peak RSS at the end: prints "cpu_s rss_mb load".
bench_cpu_window() { # pid warm secs
  local pid=$1 warm=$2 secs=$3 a b hz load1 load2
  hz=$(getconf CLK_TCK)
  sleep "$warm"
  a=$(bench_ticks "$pid")
  load1=$(bench_load)
  sleep "$secs"
  b=$(bench_ticks "$pid")
  load2=$(bench_load)
  awk -v a="$a" -v b="$b" -v hz="$hz" -v rss="$(bench_hwm_mb "$pid")" \
    -v l1="$load1" -v l2="$load2" \
    'BEGIN { printf "%.2f %s %.2f\n", (b - a) / hz, rss, (l1 > l2 ? l1 : l2) }'
}

bench_stop() { # pid: ends a measured program and waits for it
  kill "$1" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# "median min max" of the numbers given.
bench_stats() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "- - -"; exit }
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}

bench_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.2f", a / b; else print "-" }'; }

# --- HD streams ---------------------------------------------------------------
# A fixed (VOD) HLS stream of testsrc2 at the channel's real sizes, BT.709
# tagged, 25 fps, made once with ffmpeg and kept under bench/out/hd/<h>p/:
#   720   1280x720  at 2.5 Mbit/s
#   1080  1920x1080 at 5 Mbit/s
#   1080i 1920x1080 interlaced, top field first, at 5 Mbit/s
#   576i  720x576 interlaced, top field first, 16:9 (samples 64:45),
#         BT.601, at 2.5 Mbit/s
# It is long enough for one measured run (BENCH_HD_SECONDS, 60). For the
# colour check, eight flat stripes of known RGB (bench_stripes):
#   stripes709  1280x720 tagged BT.709      stripes601  640x360 tagged BT.601
bench_stripes=(ffffff ffff00 00ffff 00ff00 000000 ff00ff ff0000 0000ff)
bench_hd_dir=""
bench_hd_pid=""

bench_hd_stream() { # 720|1080|1080i|576i|stripes709|stripes601; prints the stream's folder
  local h=$1 size rate dir
  local secs=${BENCH_HD_SECONDS:-60} matrix=bt709 input c name fps=25 shape="" coding=()
  case "$h" in
    720) size=1280x720 rate=2500 ;;
    1080) size=1920x1080 rate=5000 ;;
    # Interlaced: 50 pictures a second woven into 25 frames, coded as fields.
    1080i) size=1920x1080 rate=5000 fps=50 ;;
    576i) size=1024x576 rate=2500 fps=50 matrix=smpte170m shape=",scale=720:576,setsar=64/45" ;;
    stripes709) size=1280x720 rate=1000 secs=20 ;;
    stripes601) size=640x360 rate=500 secs=20 matrix=smpte170m ;;
    *) echo "bench: no HD stream of height $h" >&2; return 1 ;;
  esac
  name=$h
  [[ $h == stripes* || $h == *i ]] || name=${h}p
  if [[ $h == *i ]]; then
    shape+=",tinterlace=interleave_top,fieldorder=tff,format=yuv420p"
    coding=(-flags +ildct+ilme -x264opts tff=1)
  fi
  dir="$bench_repo/bench/out/hd/$name"
  input=(-f lavfi -i "testsrc2=size=$size:rate=$fps:duration=$secs")
  if [ ! -s "$dir/hls/master.m3u8" ]; then
    rm -rf "$dir/hls"
    mkdir -p "$dir/hls/v" "$dir/logs" "$dir/tmp" "$dir/site"
    if [[ $h == stripes* ]]; then
      input=()
      for c in "${bench_stripes[@]}"; do input+=(xc:"#$c"); done
      convert -size "$((${size%x*} / 8))x${size#*x}" "${input[@]}" +append "$dir/stripes.png"
      input=(-loop 1 -framerate 25 -t "$secs" -i "$dir/stripes.png")
    fi
    # The source is RGB (made so: testsrc2 could draw in YUV and a palette
    # PNG skips the matrix): convert with the stream's matrix to limited range
    # and tag it so, as a broadcaster's stream is.
    ffmpeg -hide_banner -nostdin -loglevel error "${input[@]}" \
      -f lavfi -i "sine=frequency=440:beep_factor=2:sample_rate=48000:duration=$secs" \
      -vf "format=gbrp,scale=out_color_matrix=${matrix/smpte170m/bt601}:out_range=tv,format=yuv420p$shape" \
      -c:v libx264 -preset veryfast -profile:v high -threads 2 "${coding[@]}" \
      -b:v "${rate}k" -maxrate "$((rate * 11 / 10))k" -bufsize "$((rate * 2))k" \
      -g 50 -keyint_min 50 -sc_threshold 0 \
      -colorspace "$matrix" -color_primaries "$matrix" -color_trc "$matrix" -color_range tv \
      -c:a aac -b:a 64k -ac 1 -ar 48000 \
      -f hls -hls_time 2 -hls_playlist_type vod -hls_flags independent_segments \
      -master_pl_name master.m3u8 -var_stream_map "v:0,a:0,name:$name" \
      -hls_segment_filename "$dir/hls/%v/seg%03d.ts" "$dir/hls/%v/index.m3u8" \
      >"$dir/logs/ffmpeg.log" 2>&1 || { cat "$dir/logs/ffmpeg.log" >&2; rm -rf "$dir/hls"; return 1; }
    rmdir "$dir/hls/v" 2>/dev/null || true
  fi
  echo "$dir"
}

# Serves an HD stream as the channel origin on bench_port, with the demo
# channel's nginx set-up and guide (no update on offer). Without a guide the
# player would retry it and bring its bars up with each failure.
bench_hd_serve() { # 720|1080|1080i|576i|stripes709|stripes601
  bench_hd_stop
  bench_serve_dir "$(bench_hd_stream "$1")"
}

# Serves <dir>/hls as the channel origin on bench_port (see bench_hd_serve).
bench_serve_dir() { # dir
  local dir=$1
  bench_hd_stop
  if (exec 3<>"/dev/tcp/127.0.0.1/$bench_port") 2>/dev/null; then
    echo "bench: port $bench_port is taken; set VOSTAN_BENCH_PORT to a free one" >&2
    exit 1
  fi
  "$bench_repo/demo/site" guide "$dir/site" json >/dev/null
  sed -e "s|@ROOT@|$dir|g" -e "s|@PORT@|$bench_port|g" "$bench_repo/demo/nginx.conf.in" \
    >"$dir/nginx.conf"
  rm -f "$dir/nginx.pid"
  nginx -e "$dir/logs/error.log" -p "$dir" -c "$dir/nginx.conf" </dev/null >/dev/null 2>&1 &
  bench_hd_pid=$!
  bench_pids+=("$bench_hd_pid")
  bench_hd_dir=$dir
  for _ in $(seq 100); do [ -s "$dir/nginx.pid" ] && return 0; sleep 0.05; done
  echo "bench: nginx did not start for $dir" >&2
  exit 1
}

bench_hd_stop() {
  [ -n "$bench_hd_pid" ] || return 0
  kill "$bench_hd_pid" 2>/dev/null || true
  wait "$bench_hd_pid" 2>/dev/null || true
  bench_hd_pid=""
}

# Stops the demo channel bench_channel started, so an HD origin can take
# the port.
bench_channel_stop() {
  [ -n "$bench_channel_dir" ] || return 0
  "$bench_repo/demo/channel" stop "$bench_channel_dir" >/dev/null || true
  bench_channel_dir=""
}
