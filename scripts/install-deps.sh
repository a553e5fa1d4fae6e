#!/usr/bin/env bash
# Brings what the build and the tests need from Debian's packages.
# Idempotent: prints each step and skips what is already there. Run as root.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: adding the i386 architecture"
    dpkg --add-architecture i386
    updated=no
else
    echo "install-deps: i386 architecture already present"
fi

for p in g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
         wine wine32:i386 wine64 xvfb xauth cmake make googletest imagemagick x11-utils; do
    if have_pkg "$p"; then echo "install-deps: $p already installed"; else need+=("$p"); fi
done

if [ ${#need[@]} -gt 0 ]; then
    echo "install-deps: apt-get update"
    apt-get update -qq
    echo "install-deps: installing ${need[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
else
    echo "install-deps: nothing to install"
fi
