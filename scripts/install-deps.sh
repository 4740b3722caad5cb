#!/usr/bin/env bash
# Installs every Debian package that building, running, testing and benchmarking Vellum needs.
# Safe to run again: it asks apt only for what is missing, and says nothing when all is present.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libisal-dev zlib1g-dev libbz2-dev liblzma-dev libzstd-dev
    libasound2-dev nlohmann-json3-dev libsqlite3-dev
    clang libclang-rt-14-dev clang-format
    zip unzip p7zip-full 7zip libarchive-tools python3 bc time parallel
    libxcb1-dev xdg-utils fonts-dejavu-core
    lintian desktop-file-utils
    xvfb xauth x11-utils xdotool imagemagick
    fuse3 libfuse3-dev
    slurm-wlm munge openssh-server openssh-client
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Daemon packages (sshd, munged, slurmctld, slurmd) start their services from their install scripts
# where they can; scripts/try-cluster.sh runs its own private ones instead, so forbid that start for
# the length of the install unless this machine already has a rule of its own.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
    trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
