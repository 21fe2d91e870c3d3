#!/usr/bin/env bash
# The project's layout and checks over the product code: clang-format (.clang-format) on every C++ file
# git tracks, clang-tidy (.clang-tidy) on the sources of runtime/, projection/, image/ and app/ with the
# build's compile commands. Prints what it finds and fails when anything is found.
# Usage: scripts/lint.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
format=$(command -v clang-format-14 || command -v clang-format)
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)

status=0
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! "$format" --dry-run --Werror "${files[@]}"; then
  echo "lint: clang-format would change the files above (clang-format -i FILE to take its layout)"
  status=1
fi

mapfile -t sources < <(git ls-files 'runtime/*.cpp' 'projection/*.cpp' 'image/*.cpp' 'image/**/*.cpp' 'app/*.cpp' 'app/**/*.cpp')
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 4 "$tidy" -p "$build" --quiet 2>/dev/null >"$build/lint-tidy.log" || true
if grep -q "error:\|warning:" "$build/lint-tidy.log"; then
  grep -A3 "error:\|warning:" "$build/lint-tidy.log"
  echo "lint: clang-tidy found $(grep -c "error:\|warning:" "$build/lint-tidy.log") problems"
  status=1
fi
((status == 0)) && echo "lint: clang-format and clang-tidy find nothing in ${#files[@]} files"
exit $status
