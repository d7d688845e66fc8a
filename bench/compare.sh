#!/bin/bash
# cvxtext side by side with the tools around it, on a corpus made by make_corpus:
#   cvxtext -q -j1 over the corpus    what this measures
#   cat of the corpus files           the I/O floor: reading the bytes, nothing more
#   iconv latin1 -> UTF-16LE          a tuned transcoder over the stories' element bytes,
#                                     comparable work to the decoding and conversion
#   strings over the corpus           what a user without a filter reaches for
# then cvxtext -j1 against -j2 on many small documents. Every output goes to /dev/null. The
# commands run in turns, RUNS rounds, and each time is its best, taken with date +%s%N around
# the command, after the files were read once so that all of them come from the page cache.
#
#   bench/compare.sh [BUILD_FOLDER] [CORPUS_FOLDER]
#
# BUILD_FOLDER (default build/native) must hold a built cvxtext and make_corpus
# (cmake --build BUILD_FOLDER --target cvxtext make_corpus); this script builds nothing.
# CORPUS_FOLDER (default BUILD_FOLDER/bench-corpus) is made when missing and reused after.
# RUNS (default 5), SIZE_MIB (default 256), SMALL (default 1000) and SMALL_KIB (default 32)
# come from the environment.
#
# On a machine others use too, the kernel shares the cores between sessions (autogroups), and
# -j2 gets no second core while another session compiles. PRIORITY=1 (as root) runs the
# measurements in a session of their own at a raised priority (autogroup nice -15): that
# session's processes only.
set -euo pipefail

if [[ ${PRIORITY:-0} == 1 && -z ${CVX_COMPARE_SESSION:-} ]]; then
    exec setsid --wait env CVX_COMPARE_SESSION=1 bash "$0" "$@"
fi
if [[ -n ${CVX_COMPARE_SESSION:-} ]]; then
    if echo -15 >/proc/self/autogroup 2>/dev/null; then
        echo "priority: $(cat /proc/self/autogroup)"
    else
        echo "compare.sh: cannot raise the priority; measuring without" >&2
    fi
fi

cd "$(dirname "$0")/.."
build=${1:-build/native}
corpus=${2:-$build/bench-corpus}
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-256}
small=${SMALL:-1000}
small_kib=${SMALL_KIB:-32}

cvxtext=$build/tools/cvxtext/cvxtext
make_corpus=$build/bench/make_corpus
for program in "$cvxtext" "$make_corpus"; do
    if [[ ! -x $program ]]; then
        echo "compare.sh: no $program; build it first:" >&2
        echo "  cmake --build $build --target cvxtext make_corpus" >&2
        exit 2
    fi
done
for tool in iconv strings cat; do
    command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing" >&2; exit 2; }
done

# The corpus, made again only when it is missing or was made with other settings.
settings="size=$size_mib small=$small small_kib=$small_kib"
if [[ $(cat "$corpus/settings" 2>/dev/null) != "$settings" ]]; then
    rm -rf "$corpus"
    "$make_corpus" "$corpus" --size "$size_mib" --small "$small" --small-kib "$small_kib"
    echo "$settings" >"$corpus/settings"
fi
docs=("$corpus"/docs/*.zcv)
smalls=("$corpus"/small/*.zcv)
stories=$corpus/stories.bin
cat "${docs[@]}" "${smalls[@]}" "$stories" >/dev/null  # into the page cache

bytes_of() { cat "$@" | wc -c; }
corpus_bytes=$(bytes_of "${docs[@]}")
story_bytes=$(bytes_of "$stories")
small_bytes=$(bytes_of "${smalls[@]}")

# rounds NAME...: runs the functions run_NAME one after another, $runs rounds of them (so that a
# change in the machine's load falls on all of them alike), and sets best_NAME to the shortest
# time of each, in nanoseconds.
rounds() {
    local name start end round
    for name in "$@"; do eval "best_$name=0"; done
    for ((round = 0; round < runs; ++round)); do
        for name in "$@"; do
            start=$(date +%s%N)
            "run_$name" >/dev/null
            end=$(date +%s%N)
            local -n best="best_$name"
            if ((best == 0 || end - start < best)); then best=$((end - start)); fi
            unset -n best
        done
    done
}

# report NAME NANOSECONDS BYTES FLOOR: the time, its ratio to FLOOR and MB/s of BYTES.
report() {
    awk -v name="$1" -v ns="$2" -v bytes="$3" -v floor="$4" 'BEGIN {
        printf "  %-38s %8.3f s %8.2fx %9.1f MB/s\n", name, ns / 1e9, ns / floor,
               bytes / (ns / 1e9) / 1e6 }'
}

# Other work on the machine takes cores from -j2 first: say how busy it was.
load() { cut -d' ' -f1 /proc/loadavg 2>/dev/null || echo "?"; }
echo "load average before: $(load) (on $(nproc) cores; figures are steadiest near 0," \
    "PRIORITY=1 helps)"

run_cat() { cat "${docs[@]}"; }
run_cvxtext() { "$cvxtext" -q -j1 "${docs[@]}"; }
run_iconv() { iconv -f latin1 -t UTF-16LE "$stories"; }
run_strings() { strings "${docs[@]}"; }
rounds cat cvxtext iconv strings
echo "corpus: ${#docs[@]} documents, $corpus_bytes bytes; story elements $story_bytes bytes"
echo "best of $runs rounds                        time   to cat   of its input"
report "cat (corpus)" "$best_cat" "$corpus_bytes" "$best_cat"
report "cvxtext -q -j1 (corpus)" "$best_cvxtext" "$corpus_bytes" "$best_cat"
report "iconv -f latin1 -t UTF-16LE (stories)" "$best_iconv" "$story_bytes" "$best_cat"
report "strings (corpus)" "$best_strings" "$corpus_bytes" "$best_cat"
awk -v c="$best_cvxtext" -v i="$best_iconv" -v s="$best_strings" 'BEGIN {
    printf "cvxtext takes %.2fx the time of iconv and %.2fx that of strings\n", c / i, c / s }'

echo
run_one() { "$cvxtext" -q -j1 "${smalls[@]}"; }
run_two() { "$cvxtext" -q -j2 "${smalls[@]}"; }
rounds one two
echo "${#smalls[@]} small documents, $small_bytes bytes"
echo "best of $runs rounds                        time   to -j1   of its input"
report "cvxtext -q -j1 (small)" "$best_one" "$small_bytes" "$best_one"
report "cvxtext -q -j2 (small)" "$best_two" "$small_bytes" "$best_one"
awk -v one="$best_one" -v two="$best_two" 'BEGIN {
    printf "-j2 reads %.2fx as fast as -j1\n", one / two }'
echo "load average after: $(load)"
