#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing. The
# 32-bit control runs under Wine's 32-bit side (wine32:i386), so the i386 architecture is enabled
# first when it is not yet.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev libgl1-mesa-dev fonts-dejavu-core fonts-dejavu-extra
  mingw-w64-tools g++-mingw-w64-x86-64 g++-mingw-w64-i686
  wine64 wine wine32:i386 libwine-dev fonts-wine
  xvfb xauth imagemagick
  python3-dev python3-pybind11 python3-numpy python3-pytest python3-pandas
  wixl msitools faketime zip unzip python3 time
  emscripten binaryen node-acorn nodejs chromium
  r-base-core r-base-dev r-cran-testthat r-cran-knitr r-cran-rmarkdown r-cran-tibble r-cran-data.table r-cran-ggplot2
  pandoc python3-setuptools python3-wheel python3-pip python3-venv python3-dask
  osslsigncode openssl debootstrap dpkg-dev
)

# One query for all: the packages dpkg reports as installed (a foreign one under its arch-qualified name).
installed=$(dpkg-query -W -f='${binary:Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
  awk '$NF == "installed" && $(NF-1) == "ok" { print $1 }') || true
missing=()
for p in "${packages[@]}"; do
  grep -qxF -e "$p" -e "$p:amd64" <<<"$installed" || missing+=("$p")
done

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# npm comes with Node where Node is NodeSource's; Debian's Node has it as a package of its own.
if ! command -v npm >/dev/null; then
  echo "setup: installing npm" >&2
  $SUDO apt-get install -y -qq --no-install-recommends npm
fi
