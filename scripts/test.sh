#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh

# folioway_core must build on its own, without widgets or the web view.
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build-core "${generator[@]}" -DFOLIOWAY_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-core --parallel "$(nproc)"

export QT_QPA_PLATFORM=offscreen
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
cd build
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
