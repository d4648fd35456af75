#!/usr/bin/env bash
# Runs the failing variants of example_variants.sh (or the variants named) many times under mpiexec -n 1 and
# -n 3, several runs at a time, and checks each run: the variant's exit
# status; for a failure the FATAL entry and "Program aborted with exit code N"
# on the console; the diagnostics file well-formed and, for a failure, holding
# the entry; for a success "o.k." and no FATAL entry.
# Usage: failure_stress.sh TAVRO MPIEXEC XMLLINT [REPEATS [PARALLEL [VARIANTS...]]]
set -u
tavro=$1 mpiexec=$2 xmllint=$3 repeats=${4:-3} parallel=${5:-4}
shift $(($# < 5 ? $# : 5))
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/example_variants.sh"
# By default the failing variants: the succeeding ones run in the program case
# zone_nodata_same_output.
default_variants=$(for name in $variant_names; do
  [ "$(variant_status "$name")" -ne 0 ] && echo "$name"
done)
variants=${*:-$default_variants}
work=$(mktemp -d "${TMPDIR:-/tmp}/tavro_stress_XXXXXX")
trap 'rm -rf "$work"' EXIT

# One run: prints "ok" or "FAILED <what>" with the variant, processes and run.
one_run() {
  local name=$1 np=$2 run=$3
  local dir="$work/$name-np$np-$run" label="$name np$np run $run"
  make_variant "$name" "$dir" || { echo "FAILED $label: no input"; return; }
  cd "$dir/run" || return
  timeout 120 "$mpiexec" -n "$np" "$tavro" example.ctl >out.txt 2>err.txt </dev/null
  local status=$? expected entry
  expected=$(variant_status "$name")
  entry=$(variant_entry "$name")
  local problems=()
  [ "$status" -eq "$expected" ] || problems+=("status $status, expected $expected")
  "$xmllint" --noout Tavro_Diag_0.xml 2>/dev/null || problems+=("Tavro_Diag_0.xml not well-formed")
  if [ "$expected" -ne 0 ]; then
    grep -q -F -- "$entry" out.txt || problems+=("console lacks the FATAL entry")
    grep -q -F "Program aborted with exit code $expected" out.txt ||
      problems+=("console lacks the abort entry")
    grep 'level="0"' Tavro_Diag_0.xml | grep -q -F -- "$entry" ||
      problems+=("Tavro_Diag_0.xml lacks the FATAL entry")
  else
    grep -q -F "o.k." out.txt || problems+=("console lacks o.k.")
    grep -q 'level="0"' Tavro_Diag_0.xml && problems+=("Tavro_Diag_0.xml holds a FATAL entry")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok $label"
    rm -rf "$dir"
  else
    local IFS=';'
    cp -r "$dir" "${TMPDIR:-/tmp}/" 2>/dev/null
    echo "FAILED $label: ${problems[*]} (kept in ${TMPDIR:-/tmp}/${dir##*/})"
  fi
}
export -f one_run make_variant variant_status variant_entry
export work tavro mpiexec xmllint example_dir

results=$(for name in $variants; do
  for np in 1 3; do
    for ((run = 1; run <= repeats; ++run)); do echo "$name $np $run"; done
  done
done | xargs -P "$parallel" -L 1 bash -c 'one_run "$@"' _)

failed=$(grep -c '^FAILED' <<<"$results")
total=$(grep -c -E '^(ok|FAILED)' <<<"$results")
grep '^FAILED' <<<"$results"
for name in $variants; do
  for np in 1 3; do
    echo "$name np$np: $(grep -c "^ok $name np$np " <<<"$results") of $repeats runs as expected"
  done
done
echo "$((total - failed)) of $total runs as expected"
[ "$failed" -eq 0 ] && [ "$total" -gt 0 ]
