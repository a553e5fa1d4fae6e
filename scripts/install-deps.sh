#!/usr/bin/env bash
# Brings what the build and the tests need from Debian's packages.
# Idempotent: prints each step and skips what is already there. Run as root
# (or as a user with sudo); works with a bare environment (env -i).
set -euo pipefail
export PATH="${PATH:+$PATH:}/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
export DEBIAN_FRONTEND=noninteractive

# The package tools need root; a user with sudo is asked only when something is missing.
as_root() {
    if [ "$(id -u)" = 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo DEBIAN_FRONTEND=noninteractive "$@"
    else
        echo "install-deps: installing packages needs root; run this script as root" >&2
        exit 1
    fi
}

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: adding the i386 architecture"
    as_root dpkg --add-architecture i386
fi

need=()
for p in g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
         wine wine32:i386 wine64 xvfb xauth cmake make googletest imagemagick x11-utils \
         libcli11-dev nlohmann-json3-dev python3 python3-fonttools jq fonts-dejavu-core zip unzip g++ \
         fuse3 libfuse3-dev pkg-config bc \
         chromium chromium-driver python3-selenium; do
    have_pkg "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
    echo "install-deps: apt-get update"
    as_root apt-get update -qq
    echo "install-deps: installing ${need[*]}"
    as_root apt-get install -y -qq --no-install-recommends -o Dpkg::Use-Pty=0 "${need[@]}" >/dev/null
else
    echo "install-deps: everything needed is installed"
fi
