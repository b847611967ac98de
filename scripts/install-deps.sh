#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and the
# demo need. Safe to run again: it asks apt only for what is missing, and runs
# `apt-get update` only when something has to be installed.
# With --deb it adds the tools that `make deb` builds and checks the package
# with (the rest of `make test` does not need them); with --fuzz, the
# compiler `make fuzz` builds the fuzz targets with.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-format
  # libraries the program links
  libcdio-dev libcdio-paranoia-dev libcurl4-openssl-dev libgcrypt20-dev
  libmp3lame-dev libvorbis-dev libogg-dev libflac-dev libtag1-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libsndfile1-dev libsdl2-dev qt6-base-dev libglib2.0-dev libcli11-dev nlohmann-json3-dev
  libcue-dev libdiscid-dev libxml2-dev zlib1g-dev libdeflate-dev
  # tests and benchmarks: frameworks, oracles and reference tools
  libgtest-dev libgmock-dev libbenchmark-dev libdiscid-dev
  ffmpeg sox flac lame mpg123 vorbis-tools bchunk libxml2-utils
  python3 python3-mutagen python3-gi gir1.2-totemplparser-1.0 time xvfb xauth
  # independent AccurateRip checksums for the verification tests
  whipper
  # the crash report hands its mail to the user's mail client with xdg-email
  xdg-utils
  # the desktop entry's and the AppStream metainfo's validators, the man page renderer
  desktop-file-utils appstream groff-base
)

# `make deb`: building and checking the Debian package
deb_packages=(devscripts debhelper lintian)
# `make fuzz`: clang and its libFuzzer runtime
fuzz_packages=(clang libclang-rt-14-dev)
case "${1:-}" in
  --deb) packages+=("${deb_packages[@]}") ;;
  --fuzz) packages+=("${fuzz_packages[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
