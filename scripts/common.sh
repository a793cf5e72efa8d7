# shellcheck shell=bash
# Sourced by scripts/test, scripts/package, scripts/release and scripts/sbuild: what the
# builds need and how they run, and how a release's tarballs are made.

# preset_cxx PRESET: the C++ compiler command that a configure preset builds with.
preset_cxx() {
    local vars
    vars=$(cmake --preset "$1" -N) || return
    [[ $vars =~ CMAKE_CXX_COMPILER[^=]*=\"([^\"]*)\" ]] && echo "${BASH_REMATCH[1]}" || echo g++
}

# cxx_package CXX: the Debian package that has the compiler CXX.
cxx_package() {
    case $1 in clang++) echo clang ;; *) echo "$1" ;; esac
}

# architectures: the native Debian architecture, then the others that stepwave is
# released for, from the table of machines.
architectures() {
    local native
    native=$(dpkg --print-architecture)
    echo "$native"
    sed -n 's/^machine(\([a-z0-9]*\) .*/\1/p' cmake/machines.cmake | grep -vx "$native"
}

# build_deps ARCH...: installs what building the packages for these architectures needs:
# debian/control's Build-Depends, with the cross profile where one is cross-built, and
# Debian's cross compiler for each that is.
build_deps() {
    local native arch profile="" compilers=() sudo=""
    native=$(dpkg --print-architecture)
    for arch; do
        [ "$arch" = "$native" ] && continue
        profile=cross
        compilers+=("g++-$(dpkg-architecture -a "$arch" -q DEB_HOST_GNU_TYPE 2>/dev/null)")
    done
    scripts/need dpkg-dev "${compilers[@]}"
    dpkg-checkbuilddeps ${profile:+-P$profile} 2>/dev/null && return
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -q --no-install-recommends \
        ${profile:+-P$profile} ./
}

# run LOG COMMAND...: COMMAND, its output kept in LOG and shown, on standard error, only
# if it fails; then the script stops.
run() {
    "${@:2}" >"$1" 2>&1 || { cat "$1" >&2; echo "scripts/${0##*/}: failed: ${*:2}" >&2; exit 1; }
}

# tarball DIR OUTPUT: DIR's files and symbolic links as a .tar.gz, under DIR's name, in a
# fixed order, with owner 0, normalised modes and SOURCE_DATE_EPOCH's time. It holds no
# directories, so that unpacking it over a prefix leaves the prefix's own as they are.
tarball() {
    (cd "$(dirname "$1")" && find "$(basename "$1")" ! -type d -print0 | LC_ALL=C sort -z |
        tar --null --no-recursion --files-from=- --format=gnu --owner=0 --group=0 \
            --numeric-owner --mode=u=rwX,go=rX --mtime="@$SOURCE_DATE_EPOCH" -cf -) |
        gzip -9n >"$2"
}
