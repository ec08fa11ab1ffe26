#!/usr/bin/env bash
# Installs the Debian packages Plumaro needs to build, run and test, then
# configures and builds. Quick and silent when everything is in place.
#   tools/setup.sh            build the program (build/)
#   tools/setup.sh --tests    also the test tools and the sanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."

want_tests=0
[ "${1:-}" = "--tests" ] && want_tests=1

pkgs=(build-essential cmake pkg-config
      liballegro5-dev liballegro-image5-dev liballegro-ttf5-dev liballegro-dialog5-dev
      libcjson-dev zlib1g-dev libzip-dev libexpat1-dev libx11-dev libxi-dev fonts-dejavu-core)
if [ "$want_tests" = 1 ]; then
  pkgs+=(libgtest-dev libbenchmark-dev xvfb xauth xdotool libgl1-mesa-dri
         x11-apps imagemagick python3 python3-pil pngcheck libmypaint-dev libxtst-dev
         clang libclang-rt-14-dev desktop-file-utils shared-mime-info appstream)
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    SUDO=()
  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=(sudo)
  elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
    SUDO=(sudo)
  else
    echo "setup: these Debian packages are missing: ${missing[*]}" >&2
    echo "setup: installing them needs root or sudo; run as root, or ask an administrator to run:" >&2
    echo "       apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -qq
  "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

jobs=$(nproc 2>/dev/null || echo 2)
# Warnings are errors in both commands, so that switching between them never
# changes the compile flags (and never rebuilds everything).
werror=ON

# Tests and benchmarks need the test packages; a plain build leaves them out.
extras=$([ "$want_tests" = 1 ] && echo ON || echo OFF)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUMARO_WERROR="$werror" \
      -DPLUMARO_TESTS="$extras" -DPLUMARO_BENCH="$extras" >/dev/null
cmake --build build -j "$jobs"
if [ "$want_tests" = 1 ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPLUMARO_WERROR=ON \
        -DPLUMARO_SANITIZE=ON -DPLUMARO_TESTS=ON -DPLUMARO_BENCH=OFF >/dev/null
  cmake --build build-asan -j "$jobs"
  # The fuzz targets: clang with libFuzzer; without it the test command skips them.
  if tests/fuzz/run.sh --available; then
    cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
          -DCMAKE_CXX_COMPILER=clang++ -DPLUMARO_FUZZ=ON -DPLUMARO_WERROR=ON \
          -DPLUMARO_TESTS=OFF -DPLUMARO_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs" --target plumaro_fuzz
  fi
fi
