#!/usr/bin/env bash
# Benchmark: builds a release binary, makes the workloads if absent, and for
# each prints the median wall time of 5 runs after a warm-up, lines/s, MB/s,
# peak resident memory, and the time of `wc -l` on the same input.
# BASELINE=/path/to/an/older/tarvo adds its rows for the assembly workloads,
# measured in the same run, for a side-by-side comparison.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/bench/data"
mkdir -p "$data"
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target tarvo >/dev/null
tarvo="$root/build/release/tarvo"

[ -f "$data/plain.s" ] || python3 "$root/bench/gen.py" plain "$data/plain.s"
[ -f "$data/symbols.s" ] || python3 "$root/bench/gen.py" symbols "$data/symbols.s"
[ -f "$data/labels.s" ] || python3 "$root/bench/gen.py" labels "$data/labels.s"
[ -f "$data/gnu.s" ] || python3 "$root/bench/gen.py" gnu "$data/gnu.s"
[ -f "$data/gnu-link/link.ld" ] || python3 "$root/bench/gen.py" gnu-link "$data/gnu-link"
[ -f "$data/lsp.s" ] || python3 "$root/bench/gen.py" lsp "$data/lsp.s"
[ -f "$data/macros.s" ] || python3 "$root/bench/gen.py" macros "$data/macros.s" > "$data/macros.items"
if [ ! -f "$data/image.bin" ]; then
    # 16 MiB: the plain workload's image, repeated and cut to size.
    (cd "$data" && "$tarvo" plain.s -o plain.obj >/dev/null)
    copies=$(( 16777216 / $(stat -c %s "$data/plain.obj") + 1 ))
    for _ in $(seq "$copies"); do cat "$data/plain.obj"; done | head -c 16777216 > "$data/image.bin" || true
fi

# Median of 5 timed runs after one warm-up, in seconds.
median() {
    "$@" >/dev/null 2>&1
    for _ in 1 2 3 4 5; do
        local t0 t1
        t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N)
        echo $(( t1 - t0 ))
    done | sort -n | sed -n 3p | awk '{ printf "%.4f", $1 / 1e9 }'
}

peak_kib() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }'; }

cd "$data"
printf '%-13s %10s %14s %9s %10s %10s %9s\n' workload seconds "items/s" "MB/s" "peak MiB" "wc -l s" "x wc -l"
rows=(plain symbols labels gnu gnu-link macros image source out:plain out:symbols)
# The language server, when the build has one: a change to its diagnostics.
if "$tarvo" --lsp </dev/null >/dev/null 2>&1 || [ $? -ne 2 ]; then rows+=(lsp); fi
[ -n "${BASELINE:-}" ] && rows+=(base:plain base:symbols base:gnu)
for w in "${rows[@]}"; do
    bin=$tarvo
    extra=()
    label=$w
    case $w in
        base:*) bin=$BASELINE; w=${w#base:} ;;
        out:*) w=${w#out:}; extra=(--listing="$w.lst" --symbols="$w.sym" --deps="$w.d") ;;
    esac
    input=()
    if [ "$w" = image ]; then
        input=image.bin; cmd=("$bin" image.bin -d 0 16777216)
        items=$("$bin" image.bin -d 0 16777216 >/dev/null; grep -c '' output.asm)
    elif [ "$w" = source ]; then
        # Each run writes a new file, as a user's first listing does.
        input=image.bin; cmd=(sh -c 'rm -f image.s && exec "$0" image.bin -d 0 16777216 --source --output=image.s' "$bin")
        items=$("${cmd[@]}" >/dev/null; grep -c '' image.s)
    elif [ "$w" = gnu-link ]; then
        # The gnu workload in 8 files, linked by a script.
        input=(gnu-link/part{0..7}.s)
        cmd=("$bin" --syntax=gnu "${input[@]}" -T gnu-link/link.ld -o gnu-link.obj)
        items=$(cat "${input[@]}" | wc -l)
    else
        input=$w.s; cmd=("$bin" "$w.s" -o "$w.obj" "${extra[@]}")
        if [ "$w" = gnu ]; then cmd=("$bin" --syntax=gnu gnu.s -o gnu.obj); fi
        items=$(wc -l < "$input")
        # Macro calls: the lines they produce.
        if [ "$w" = macros ]; then items=$(cat macros.items); fi
    fi
    w=$label
    if [ "$w" = lsp ]; then
        # The script takes its own median and the server's peak.
        input=lsp.s; items=$(wc -l < lsp.s)
        read -r t kib < <(python3 "$root/bench/lsp.py" "$bin" lsp.s)
    else
        t=$(median "${cmd[@]}")
        kib=$(peak_kib "${cmd[@]}")
    fi
    twc=$(median wc -l "${input[@]}")
    bytes=$(cat "${input[@]}" | wc -c)
    awk -v w="$w" -v t="$t" -v n="$items" -v b="$bytes" -v k="$kib" -v twc="$twc" 'BEGIN {
        printf "%-13s %10.4f %14.0f %9.1f %10.1f %10.4f %9.1f\n", w, t, n / t, b / t / 1e6, k / 1024, twc, t / twc }'
done
echo "(lsp: from a didChange of one line of the 10,000-line lsp.s to its publishDiagnostics;"
echo " image: items are listed instructions; source: lines of -d --source; macros: lines the calls produce;"
echo " out: with --listing, --symbols and --deps; nproc $(nproc))"
