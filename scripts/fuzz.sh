#!/usr/bin/env bash
# Builds the native fuzz targets of fuzz/ (clang's libFuzzer with
# AddressSanitizer and UndefinedBehaviorSanitizer over the Win32 shim) in the
# 64-bit build and, where the host can build it, in the 32-bit build, where
# sizes wrap first as they do in the 32-bit product; then runs each target
# for a bounded time and prints its executions and findings.
#
#   bash scripts/fuzz.sh [seconds per target and build, default 60]
#
# Each target starts from its seeds (fuzz/seeds/<target>/) and the corpus it
# grew before (build/fuzz-<arch>/corpus/<target>/). A finding is saved in
# fuzz/crashes/<target>/, whose inputs the Wine tests replay through the
# product code; the message writer's kept messages are read back by Python's
# e-mail parser (fuzz/check_messages.py), and the PDF documents written from
# the corpus's page files by `qpdf --check` (fuzz/check_documents.sh). Exits 1
# when anything was found.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
case "$seconds" in '' | *[!0-9]*) echo "usage: bash scripts/fuzz.sh [seconds]" >&2; exit 2 ;; esac
build_root=${KP_BUILD_ROOT:-$root/build}
targets=(page_reader vcard_reader recipient_files run_list dialing_rules message_writer g4_coder
    smtp_replies message_data envelope_file queue_state pdf_document)
log=$build_root/fuzz-setup.log
mkdir -p "$build_root"
: >"$log"

# Installs what is missing; a package that cannot be had is reported, not fatal.
need() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "fuzz: not root, cannot install ${missing[*]}" | tee -a "$log"
        return 1
    fi
    { apt-get update -q || true; } >>"$log" 2>&1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" \
        >>"$log" 2>&1 || { echo "fuzz: could not install ${missing[*]} (see $log)"; return 1; }
}

need clang-14 cmake ninja-build python3 qpdf zlib1g-dev || { echo "fuzz: clang-14, CMake, Ninja, qpdf and zlib are needed" >&2; exit 1; }
need libtiff-dev || echo "fuzz: without libtiff the Group 4 round trip is not compared"
variants=(x86_64)
if need libc6-dev-i386 lib32stdc++-12-dev lib32z1-dev; then
    variants+=(i386)
else
    echo "fuzz: no 32-bit C++ libraries: the 32-bit build is left out"
fi

# Configures and builds one variant; 1 when it could not be built.
build_variant() {
    local dir=$build_root/fuzz-$1 m32=OFF
    [ "$1" = i386 ] && m32=ON
    cmake -S "$root/fuzz" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DKP_FUZZ_M32=$m32 \
        >>"$log" 2>&1 && cmake --build "$dir" >>"$log" 2>&1
}

# Runs one target; prints "executions findings" on its last line.
run_target() {
    local variant=$1 target=$2 dir=$build_root/fuzz-$1
    local corpus=$dir/corpus/$target crashes=$root/fuzz/crashes/$target out=$dir/logs/$target.log
    mkdir -p "$corpus" "$crashes" "$dir/logs"
    local before
    before=$(find "$crashes" -type f | wc -l)
    "$dir/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" "$root/fuzz/seeds/$target" \
        >"$out" 2>&1
    local status=$? executions found
    executions=$(grep -h 'stat::number_of_executed_units' "$out" | awk '{s += $2} END {print s + 0}')
    found=$(($(find "$crashes" -type f | wc -l) - before))
    # A run that failed without saving an input still found something.
    [ "$status" != 0 ] && [ "$found" = 0 ] && found=1
    if [ "$target" = message_writer ]; then
        # The kept messages of the whole corpus, read back by Python's parser.
        local kept=$dir/kept
        rm -rf "$kept" && mkdir -p "$kept"
        KP_FUZZ_KEEP=$kept "$dir/$target" -runs=0 "$corpus" >>"$out" 2>&1
        python3 "$root/fuzz/check_messages.py" "$kept" >"$dir/logs/check_messages.log" 2>&1 ||
            found=$((found + $(grep -c '\.eml:' "$dir/logs/check_messages.log")))
        echo "  $(tail -1 "$dir/logs/check_messages.log") (Python's e-mail parser)" >&2
    fi
    if [ "$target" = pdf_document ]; then
        # Every document written from a page file of the corpus, checked by qpdf.
        local kept=$dir/kept-pdf
        rm -rf "$kept" && mkdir -p "$kept"
        KP_FUZZ_KEEP=$kept "$dir/$target" -runs=0 "$corpus" >>"$out" 2>&1
        bash "$root/fuzz/check_documents.sh" "$kept" >"$dir/logs/check_documents.log" 2>&1 ||
            found=$((found + $(grep -c '\.pdf:' "$dir/logs/check_documents.log")))
        echo "  $(tail -1 "$dir/logs/check_documents.log") (qpdf --check)" >&2
    fi
    echo "$executions $found"
}

total=0
printf '%-8s %-16s %12s %9s\n' build target executions findings
for variant in "${variants[@]}"; do
    if ! build_variant "$variant"; then
        echo "fuzz: the $variant build failed (see $log)"
        [ "$variant" = x86_64 ] && exit 1
        continue
    fi
    # Built to show that it compiles; a host without 32-bit execution cannot run it.
    "$build_root/fuzz-$variant/${targets[0]}" -help=1 >/dev/null 2>&1
    if [ $? = 126 ]; then
        echo "fuzz: this host does not execute 32-bit programs: the $variant build is built, not run"
        continue
    fi
    for target in "${targets[@]}"; do
        read -r executions found < <(run_target "$variant" "$target")
        printf '%-8s %-16s %12s %9s\n' "$variant" "$target" "$executions" "$found"
        total=$((total + found))
    done
done
echo "findings: $total (inputs in fuzz/crashes/<target>/, logs in $build_root/fuzz-<build>/logs/)"
[ "$total" -eq 0 ]
