#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Only packages that are missing are installed, so a set-up machine pays nothing.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev ccache
  python3
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev nlohmann-json3-dev
  pkexec x11-xserver-utils
  smartmontools util-linux libblkid-dev liburing-dev fio xvfb xauth
  fdisk e2fsprogs cryptsetup-bin btrfs-progs lvm2 exfatprogs ntfs-3g xfsprogs dosfstools
  libreoffice-writer-nogui poppler-utils
  dpkg-dev lintian desktop-file-utils appstream man-db
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
