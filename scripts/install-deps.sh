#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run, skipping what is
# already there. Run as root on Debian 12.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libxml2-dev libxslt1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libzip-dev                   # the zip container of .xlsx and .ods workbooks
  libxml2-utils
  locales-all                  # a comma-separator locale for the number text tests
  xvfb xauth xdotool imagemagick fonts-dejavu-core
  dpkg-dev file desktop-file-utils man-db   # the package and its check (dpkg-shlibdeps, file, ...)
  clang-14                     # scripts/check-builds.sh builds with clang++-14 too
)
if [[ "${XE_FUZZ_DEPS:-0}" == 1 ]]; then
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: these packages are missing and installing them needs root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
fi
