#!/usr/bin/env bash
# Installs the Debian packages Lumivale needs to build, run and test, when missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libexiv2-dev exiv2 libimage-exiftool-perl
  libgtest-dev libgmock-dev libbenchmark-dev libexpat1-dev
  fonts-wine fonts-liberation2 locales tzdata
)
[[ "${1-}" == "--test" ]] && packages+=(clang libclang-rt-14-dev xvfb xauth python3)
# The peer tools the benchmarks measure against, /usr/bin/time, and what makes and checks the
# end-to-end corpus.
[[ "${1-}" == "--bench" ]] && packages+=(gpscorrelate time imagemagick python3)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locale tests need a locale that writes dates and decimals differently.
if [[ "${1-}" == "--test" ]] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
fi
