#!/usr/bin/env bash
# Runs every fuzz target of a build tree (configured with -DQM_FUZZ=ON) for
# FUZZ_SECONDS each, from its seed corpus under fuzz/corpus/<target>/ with its
# dictionary fuzz/dict/<target>.dict. An input that crashes, hangs (over 1 s),
# leaks or needs over 256 MB lands in fuzz/crashes/<target>/ and fails the run.
# Prints one line per target: executions, coverage, faults. A time-out that
# does not come again when its input is replayed alone is reported apart
# (see run_one).
#
#   scripts/run-fuzz.sh [BUILD_DIR] [TARGET...]
#
# FUZZ_SECONDS (60) how long each target runs; FUZZ_JOBS (1) how many run at
# once; FUZZ_NICE (0) the niceness they run at. The corpus each run grows is
# kept in BUILD_DIR/fuzz-corpus/<target>/ (the seeds in the tree stay as
# they are); each run's libFuzzer output is in BUILD_DIR/fuzz-logs/.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build-fuzz}"
shift || true
case "$build" in /*) ;; *) build="$root/$build" ;; esac
seconds="${FUZZ_SECONDS:-60}"
jobs="${FUZZ_JOBS:-1}"
niceness="${FUZZ_NICE:-0}"

all_targets=(fuzz_cue_sheet fuzz_flac_cuesheet fuzz_cddb_reply fuzz_xmcd_entry fuzz_local_cddb
  fuzz_settings fuzz_musicbrainz fuzz_accuraterip fuzz_ctdb fuzz_drive_offsets
  fuzz_cover_picture fuzz_toc_file)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

# The longest input worth trying: a few times the largest real one, well under
# what the program accepts (the limits themselves are tested in tests/).
max_len() {
  case "$1" in
    fuzz_flac_cuesheet | fuzz_musicbrainz) echo 65536 ;;
    fuzz_cddb_reply | fuzz_local_cddb) echo 32768 ;;
    fuzz_xmcd_entry) echo 10240 ;;
    fuzz_drive_offsets | fuzz_cover_picture) echo 8192 ;;
    *) echo 16384 ;;
  esac
}

# Freed memory AddressSanitizer holds back counts against the 256 MB; a
# smaller quarantine keeps a long run's own growth well below it.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16"

logs="$build/fuzz-logs"
mkdir -p "$logs"

# A machine shared at low priority may starve a run for over a second, and
# a long run's memory grows with what AddressSanitizer holds back and the
# corpus: a time-out or an out-of-memory is replayed alone (at normal
# priority, with the same limits), and one that does not come again is kept
# as starved-* and the run goes on for the time left. Anything else ends
# the target's run.
run_one() {
  local target="$1" binary="$build/fuzz/$1"
  local crashes="$root/fuzz/crashes/$target" work="$build/fuzz-corpus/$target"
  local log="$logs/$target.log"
  mkdir -p "$crashes" "$work"
  local dict=()
  [ -f "$root/fuzz/dict/$target.dict" ] && dict=(-dict="$root/fuzz/dict/$target.dict")
  local started code=0 starved=0 left="$seconds"
  started="$(date +%s)"
  : >"$log"
  while [ "$left" -gt 0 ]; do
    nice -n "$niceness" "$binary" -max_total_time="$left" -rss_limit_mb=256 -timeout=1 \
      -max_len="$(max_len "$target")" -print_final_stats=1 -artifact_prefix="$crashes/" \
      "${dict[@]}" "$work" "$root/fuzz/corpus/$target" >>"$log" 2>&1
    code=$?
    [ "$code" -eq 0 ] && break
    local unit
    unit="$(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)"
    case "$(basename "$unit")" in
      timeout-* | oom-*)
        if "$binary" -timeout=1 -rss_limit_mb=256 -runs=1 "$unit" >>"$log.replay" 2>&1; then
          mv -f "$unit" "$crashes/starved-$(basename "$unit" | sed 's/^[a-z]*-//')"
          sed -i 's/Test unit written to /Not reproduced alone (starved or grown): /' "$log"
          starved=$((starved + 1))
          code=0
        else
          break
        fi
        ;;
      *) break ;;
    esac
    left=$((seconds - ($(date +%s) - started)))
  done
  echo "$code $(($(date +%s) - started)) $starved" >"$logs/$target.status"
}

for target in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/$target" ]; then
    echo "run-fuzz: $build/fuzz/$target is not built" >&2
    exit 2
  fi
done

running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_one "$target" &
  running=$((running + 1))
done
wait

failed=0
for target in "${targets[@]}"; do
  log="$logs/$target.log"
  read -r code took starved <"$logs/$target.status"
  # Every stretch of a run that a starved time-out split counts.
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | awk '{n += $1} END {print n}')"
  # The last status line libFuzzer printed: "#N DONE cov: C ft: F corp: ...".
  status="$(grep -E '^#[0-9]+' "$log" | tail -n 1)"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status")"
  # libFuzzer stops at the first fault and names the input it kept.
  faults="$(grep -c 'Test unit written to' "$log")"
  if [ "$code" -ne 0 ] && [ "$faults" -eq 0 ]; then
    faults=1
  fi
  extra=""
  [ "${starved:-0}" -gt 0 ] && extra=" (time-outs or out-of-memory not reproduced alone: $starved)"
  printf '%-20s %4ss  executions %-10s cov %-6s ft %-7s crashes %s%s\n' "$target" "$took" \
    "${execs:-?}" "${cov:-?}" "${ft:-?}" "$faults" "$extra"
  if [ "$faults" -ne 0 ]; then
    failed=1
    echo "  see $log; the input is in fuzz/crashes/$target/" >&2
  fi
done
exit "$failed"
