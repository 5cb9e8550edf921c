#!/usr/bin/env bash
# Static analysis of the product sources (app/, platform/, smc/, telemetry/, workload/, bench/
# and their subfolders): clang-tidy with the checks in .clang-tidy, then cppcheck. Tests are not
# analysed. Fails on any finding of either tool.
#
#   scripts/lint.sh [build-dir]    default: build
#
# The build directory is (re)configured first, so that its compile_commands.json names every
# source with the flags it is built with; a source the configuration does not build (the CUDA
# backend without the toolkit) is not analysed. LINT_JOBS (default: all processors) sets how
# many files are analysed at once.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build="${1:-build}"
jobs="${LINT_JOBS:-$(nproc)}"
folders=(app platform smc telemetry workload bench)

tidy=clang-tidy-14
if ! command -v "$tidy" >/dev/null; then
  tidy=clang-tidy
fi
for tool in "$tidy" cppcheck python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "lint: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 2
  fi
done

cmake -S . -B "$build" >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A compilation database with the product sources only, and their list.
python3 - "$build/compile_commands.json" "$work" "$root" "${folders[@]}" <<'EOF'
import json, os, sys
database, work, root, folders = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
prefixes = tuple(os.path.join(root, folder) + os.sep for folder in folders)
kept, seen = [], set()
for entry in json.load(open(database)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    # Device code (.cu) is compiled by nvcc with flags clang-tidy does not know; only host
    # C++ is analysed.
    if path.endswith(".cu"):
        continue
    if path.startswith(prefixes) and os.path.isfile(path) and path not in seen:
        seen.add(path)
        kept.append(entry)
json.dump(kept, open(os.path.join(work, "compile_commands.json"), "w"), indent=1)
with open(os.path.join(work, "sources.txt"), "w") as listing:
    listing.writelines(path + "\n" for path in sorted(seen))
EOF

mapfile -t sources <"$work/sources.txt"
while IFS= read -r source; do
  if ! grep -qxF "$root/$source" "$work/sources.txt"; then
    echo "lint: $source is not built in $build, not analysed"
  fi
done < <(find "${folders[@]}" -name '*.cpp' | sort)
if ((${#sources[@]} == 0)); then
  echo "lint: no sources in $build/compile_commands.json" >&2
  exit 2
fi

# Findings in the project's own headers count; system and toolkit headers do not.
root_pattern="$(printf '%s' "$root" | sed 's/[][\\.^$*+?(){}|]/\\&/g')"
header_filter="^$root_pattern/($(
  IFS='|'
  echo "${folders[*]}"
))/"

echo "lint: clang-tidy ($("$tidy" --version | grep -o 'version [0-9.]*')) on ${#sources[@]} files, $jobs at a time"
export LINT_TIDY="$tidy" LINT_WORK="$work" LINT_HEADER_FILTER="$header_filter"
# One log per source, so that parallel runs do not interleave; a failed run leaves a mark.
# The build's compiler may know warning options that clang does not: those are not findings.
# shellcheck disable=SC2016 # the inner script expands its own variables
printf '%s\n' "${sources[@]}" | xargs -P "$jobs" -I{} bash -c '
  log="$LINT_WORK/tidy$(printf "%s" "$1" | tr / _).log"
  if ! "$LINT_TIDY" -p "$LINT_WORK" --quiet --header-filter="$LINT_HEADER_FILTER" \
      --extra-arg=-Wno-unknown-warning-option "$1" >"$log" 2>&1; then
    touch "$log.failed"
  fi' _ {}

failed=0
for source in "${sources[@]}"; do
  log="$work/tidy$(printf '%s' "$source" | tr / _).log"
  if [ -e "$log.failed" ]; then
    failed=1
    echo "lint: clang-tidy findings in ${source#"$root"/}:"
    grep -v -E '^[0-9]+ (warning|error)s? generated\.$' "$log" | sed "s|$root/||g"
  fi
done

echo "lint: cppcheck ($(cppcheck --version)) on ${#sources[@]} files"
# --library: POSIX and GLib calls are known to cppcheck (leaks, argument rules).
if ! cppcheck --project="$work/compile_commands.json" -j "$jobs" --quiet \
  --enable=warning,performance,portability --inline-suppr --error-exitcode=1 \
  --library=posix --library=gtk \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  2>"$work/cppcheck.log"; then
  failed=1
fi
if [ -s "$work/cppcheck.log" ]; then
  failed=1
  echo "lint: cppcheck findings:"
  sed "s|$root/||g" "$work/cppcheck.log"
fi

if ((failed)); then
  echo "lint: FAILED" >&2
  exit 1
fi
echo "lint: clean"
