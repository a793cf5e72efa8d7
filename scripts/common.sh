# shellcheck shell=bash
# Sourced by scripts/test, scripts/package and scripts/release: the compilers that presets
# and architectures build with, and how a release's tarballs are made. An architecture is
# a toolchain file, cmake/TYPE.cmake, named after Debian's GNU type for it.

# preset_cxx PRESET: the C++ compiler command that a configure preset builds with.
preset_cxx() {
    local vars
    vars=$(cmake --preset "$1" -N) || return
    [[ $vars =~ CMAKE_CXX_COMPILER[^=]*=\"([^\"]*)\" ]] && echo "${BASH_REMATCH[1]}" || echo g++
}

# cxx_package CXX: the Debian package that has the compiler CXX.
cxx_package() {
    case $1 in clang++) echo clang ;; *-g++) echo "g++-${1%-g++}" ;; *) echo "$1" ;; esac
}

# architectures: the native Debian architecture, then each that has a toolchain file.
architectures() {
    dpkg --print-architecture
    for file in cmake/*-linux-*.cmake; do
        dpkg-architecture -t "$(basename "$file" .cmake)" -q DEB_HOST_ARCH 2>/dev/null
    done
}

# arch_packages ARCH: what building for ARCH needs beyond the Build-Depends: its cross
# compiler, named by the toolchain file or the one it includes, the binutils that
# debhelper runs for the architecture, and qemu for its tests.
arch_packages() {
    local type file
    [ "$1" != "$(dpkg --print-architecture)" ] || return 0
    type=$(dpkg-architecture -a "$1" -q DEB_HOST_GNU_TYPE 2>/dev/null)
    file=cmake/$type.cmake
    # shellcheck disable=SC2016,SC2046 # the include's CMake variable, as written; a word a file
    sed -n 's/^set(triple \(.*\))$/g++-\1/p' "$file" \
        $(sed -n 's|^include(${CMAKE_CURRENT_LIST_DIR}/\(.*\))$|cmake/\1|p' "$file")
    echo "binutils-$type" qemu-user-static
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
