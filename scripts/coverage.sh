#!/usr/bin/env bash
# Builds Folioway once with --coverage into build-coverage/, runs every test suite and prints
# test lines, product lines, their share, and the line and branch coverage of src/ and server/.
#
#   ./scripts/coverage.sh              the figures for the whole suite
#   ./scripts/coverage.sh --per-test   also what each test function alone covers
#                                      (scripts/coverage-unique.py; build-coverage/unique.txt, .pickle)
#
# Lines are counted as the project's hook counts them: non-blank lines that are not only a //
# comment, in git-tracked .cpp and .h files; tests are tests/ and server/tests/.
set -euo pipefail
cd "$(dirname "$0")/.."
per_test=0
[ "${1:-}" = "--per-test" ] && per_test=1

./scripts/install-deps.sh
build=build-coverage
jobs=$(nproc)

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# -O0 so that every line and branch maps to the source as written; atomic counters, as books are
# decoded and scanned on several threads at once.
cmake -S . -B "$build" "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O0 -g -DNDEBUG" "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DFOLIOWAY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$jobs"

export QT_QPA_PLATFORM=offscreen
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
# Counters of an earlier run would add up with this one.
find "$build" -name '*.gcda' -delete
# The package check builds .deb files and adds nothing to the coverage of the code.
(cd "$build" && ctest --output-on-failure --parallel "$jobs" --timeout 900 -E '^packages$') || echo "Some suites failed; the coverage below is of what ran."

counted() { tr '\n' '\0' | xargs -0 cat | grep -cvE '^\s*(//.*)?$' || true; }
product=$(git ls-files 'src/*.cpp' 'src/*.h' 'server/*.cpp' 'server/*.h' | grep -v '/tests\?/' | counted)
tests=$(git ls-files 'tests/*.cpp' 'tests/*.h' 'server/tests/*.cpp' 'server/tests/*.h' | counted)

# gcovr's warnings go to build-coverage/gcovr.log.
# The report itself goes to a file of its own: gcovr replaces its output file, so never /dev/null.
summary=$(gcovr --root . --object-directory "$build" --filter 'src/' --filter 'server/src/' --print-summary \
  --gcov-ignore-parse-errors --output "$build/coverage.txt" 2>"$build/gcovr.log")
lines=$(grep -oE '^lines: [0-9.]+% \([0-9]+ out of [0-9]+\)' <<<"$summary" | sed 's/^lines: //')
branches=$(grep -oE '^branches: [0-9.]+% \([0-9]+ out of [0-9]+\)' <<<"$summary" | sed 's/^branches: //')

echo
echo "Test lines:      $tests"
echo "Product lines:   $product"
echo "Share:           $(awk -v t="$tests" -v p="$product" 'BEGIN { printf "%.1f %%", 100 * t / p }')"
echo "Line coverage:   $lines"
echo "Branch coverage: $branches"

if [ "$per_test" -eq 1 ]; then
  python3 scripts/coverage-unique.py --build "$build" --jobs "$jobs" --output "$build/unique.txt" --raw "$build/unique.pickle"
  echo "What each test function alone covers: $build/unique.txt"
fi
