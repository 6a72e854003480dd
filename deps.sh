#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, only when missing.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-translations-l10n libgtest-dev libgmock-dev
          libbenchmark-dev fonts-dejavu-core zlib1g-dev liburing-dev libssl-dev par2 cksfv parchive
          duplicity python3-pexpect dar bup
          clang libclang-rt-14-dev lld)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
