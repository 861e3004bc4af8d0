#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for SECONDS
# (default 30) from its seed corpus. Any crash, leak, hang or broken
# invariant ends the run with status 1; findings land in build-fuzz/findings/.
#
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
case $seconds in '' | *[!0-9]*) echo "usage: bash scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;; esac

scripts/setup.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMOSALUNE_BUILD_FUZZERS=ON -DMOSALUNE_BUILD_TESTS=OFF -DMOSALUNE_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzzers

mkdir -p build-fuzz/findings
status=0
# The picture decoders start from the test pictures, made by real tools.
seeds() {
  case $1 in
    jpeg) echo picture.jpg rotated-exif.jpg progressive-20000.jpg ;;
    png) echo picture.png large-interlaced.png ;;
    heif) echo picture.heic alpha.heic thumbnailed.heic picture.avif ;;
    webp) echo picture.webp alpha.webp animated.webp rotated.webp large.webp ;;
    picture) echo picture.bmp picture.gif picture.ico picture.cur picture.tiff rotated.tiff \
      picture.jpg picture.png picture.webp picture.heic ;;
    metafile) echo picture.wmf picture.emf broken.wmf ;;
  esac
}

for target in text releasepage sharepage transfer signature journal jpeg png heif webp picture metafile; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  if [ -d fuzz/corpus/"$target" ]; then cp -n fuzz/corpus/"$target"/* "$corpus"/; fi
  for seed in $(seeds "$target"); do cp -n tests/data/"$seed" "$corpus"/; done
  echo "== fuzz_$target: $seconds s"
  # -timeout: one input running for 10 s is a hang; -rss_limit_mb: a leak or
  # an input that swells memory. The sanitizers abort on their first report.
  # What AddressSanitizer keeps of freed memory is bounded and handed back,
  # so that the limit measures inputs, not the run's history (a CI run once
  # stopped with 2.2 GB held in its quarantine and 24 MB in use).
  if ! ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=128:allocator_release_to_os_interval_ms=1000 LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build-fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/findings/"$target"- "$corpus" \
    >build-fuzz/fuzz_"$target".log 2>&1; then
    echo "fuzz_$target found a fault:"
    tail -n 40 build-fuzz/fuzz_"$target".log
    # The process's RSS also holds what the sanitizer keeps of inputs long
    # gone; an out-of-memory counts when its own input swells memory again.
    oom=$(ls -t build-fuzz/findings/"$target"-oom-* 2>/dev/null | head -n 1)
    if [ -n "$oom" ] && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp \
      build-fuzz/fuzz/fuzz_"$target" -rss_limit_mb=2048 -timeout=10 "$oom" >build-fuzz/rerun.log 2>&1; then
      echo "fuzz_$target: $oom alone stays within the limit: not a fault of the input"
    else
      [ -z "$oom" ] || { echo "alone:"; tail -n 15 build-fuzz/rerun.log; }
      status=1
    fi
    # CI's root goes when it ends: a small finding is printed whole.
    for finding in build-fuzz/findings/"$target"-*; do
      [ -f "$finding" ] && [ "$(stat -c %s "$finding")" -le 65536 ] || continue
      echo "$finding, base64:"
      base64 -w 0 "$finding"; echo
    done
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' build-fuzz/fuzz_"$target".log || true
done
if ((status)); then echo "fuzzing: faults found (see build-fuzz/findings/)"; else echo "fuzzing: no faults"; fi
exit "$status"
