#!/usr/bin/env bash
# Takes screenshots of a Qt program on a private X server.
#
#   screenshots.sh [-t] [-s WxH] [-w 'TITLE=FILE.png']... [-o FILE.png] -- COMMAND [ARGS...]
#   screenshots.sh [-t] -x -- COMMAND [ARGS...]
#
# Starts Xvfb on a free display (and, with -t, the tray host trayer on it),
# runs COMMAND there, and for each -w waits for a visible window whose title
# matches the regular expression TITLE and saves that window as FILE.png;
# -o saves the whole screen once every -w shot is taken (or after two
# seconds when there is none). With -x it only runs COMMAND to its end and
# exits with its status. Everything it started is stopped on exit.
# Needs xvfb, xdotool and imagemagick (and trayer for -t): `make deps`.
# Exits with 77 (a skip to CTest) when one of them is not installed.
set -euo pipefail

size=1024x768
tray=0
shots=()
screen_file=""
wait_s=20
run_only=0

usage() { sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

while [[ $# -gt 0 ]]; do
  case "$1" in
    -t) tray=1; shift ;;
    -s) size="$2"; shift 2 ;;
    -w) shots+=("$2"); shift 2 ;;
    -o) screen_file="$2"; shift 2 ;;
    -x) run_only=1; shift ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[[ $# -gt 0 ]] || usage
[[ $run_only -eq 1 || ${#shots[@]} -gt 0 || -n "$screen_file" ]] || usage

tools=(Xvfb)
[[ $tray -eq 1 ]] && tools+=(trayer)
[[ $run_only -eq 1 ]] || tools+=(xdotool import)
for tool in "${tools[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (make deps installs it)" >&2
    exit 77
  fi
done

pids=()
workdir="$(mktemp -d)"
cleanup() {
  # Last started, first stopped, each given a few seconds to end its own
  # way (a program unloads while its display is still there).
  local i n
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || continue
    for ((n = 0; n < 100; n++)); do
      kill -0 "${pids[i]}" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$workdir"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the descriptor.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$workdir/display" 2>"$workdir/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [[ -s "$workdir/display" ]] && break
  sleep 0.1
done
[[ -s "$workdir/display" ]] || { echo "Xvfb did not start:" >&2; cat "$workdir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$workdir/display")"
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$workdir"

if [[ $tray -eq 1 ]]; then
  trayer --edge top --align right --widthtype pixel --width 100 --height 24 >"$workdir/trayer.log" 2>&1 &
  pids+=($!)
fi

if [[ $run_only -eq 1 ]]; then
  status=0
  "$@" || status=$?
  exit $status
fi

"$@" &
pids+=($!)
app=$!

status=0
for shot in "${shots[@]}"; do
  title="${shot%%=*}"
  file="${shot#*=}"
  if ! id="$(timeout "$wait_s" xdotool search --sync --onlyvisible --name "$title" 2>/dev/null | head -n1)" \
      || [[ -z "$id" ]]; then
    echo "no window titled /$title/ within ${wait_s}s" >&2
    status=1
    continue
  fi
  # Let the window paint once it is mapped.
  sleep 0.5
  import -window "$id" "$file"
  echo "$file"
done

if [[ -n "$screen_file" ]]; then
  [[ ${#shots[@]} -gt 0 ]] || sleep 2
  import -window root "$screen_file"
  echo "$screen_file"
fi

kill -0 "$app" 2>/dev/null || { echo "the command ended early" >&2; status=1; }
exit $status
