#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tamsel
# need, and only those that are missing.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    qttools5-dev qttools5-dev-tools qttranslations5-l10n
    dosfstools mtools ntfs-3g util-linux mount fdisk gdisk
    libext2fs-dev e2fsprogs exfatprogs exfat-fuse btrfs-progs
    xvfb xauth fonts-wqy-microhei
    sleuthkit
    clang libclang-rt-14-dev
    coreutils file python3 libxml2-utils
    zlib1g-dev
    bubblewrap libpoppler-qt5-dev libseccomp-dev poppler-utils
    libewf-dev ewf-tools attr
    dbus python3-dbusmock desktop-file-utils appstream dpkg-dev
    python3-fuse fuse3 gddrescue
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        sudo_cmd=(sudo)
    else
        echo "install-deps: missing packages (${missing[*]}) and no root rights to install them." >&2
        exit 1
    fi
fi

echo "install-deps: installing ${missing[*]}" >&2
# A machine that has never fetched the package lists needs them first.
if ! ls /var/lib/apt/lists/*_Packages >/dev/null 2>&1; then
    "${sudo_cmd[@]}" apt-get update -qq
fi
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # Stale lists: refresh once and try again.
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
