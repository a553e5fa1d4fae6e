# bench/drives.sh: sourced by the benchmark scripts. bench_drives BUILD
# LETTER=FOLDER...: the build folder's Wine prefix (made when missing), each
# FOLDER as drive LETTER, and the prefix's server started with the drives in
# place (Wine reads them when its server starts). The server and its services
# outlive the programs, so they must not hold a caller's lock (fd 9).
bench_drives() {
    local build=$1 drive
    shift
    export WINEPREFIX=$build/wineprefix
    [ -f "$WINEPREFIX/system.reg" ] || "$build/wine-setup.sh" >/dev/null 9>&-
    for drive in "$@"; do ln -sfn "${drive#*=}" "$WINEPREFIX/dosdevices/${drive%%=*}:"; done
    "$build/wine-setup.sh" >/dev/null 9>&-
}
