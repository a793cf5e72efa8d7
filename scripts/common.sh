# shellcheck shell=bash
# Sourced by the scripts: what the builds need and how they run, the chroots they build
# in, and how a release's tarballs are made.

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

# debian_sources RELEASE: the apt lines of an installed, up-to-date Debian RELEASE: the
# release, its -updates and its -security suites.
debian_sources() {
    local mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
    printf 'deb %s %s main\n' "$mirror" "$1" "$mirror" "$1-updates" \
        "${DEBIAN_SECURITY:-http://deb.debian.org/debian-security}" "$1-security"
}

# emulate ARCH...: the kernel runs these architectures' programs through qemu-user, whose
# interpreter binfmt_misc holds open, so that it also works in their chroots.
emulate() {
    local arch qemu sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    scripts/need qemu-user-static
    [ -e /proc/sys/fs/binfmt_misc/register ] ||
        $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    for arch; do
        read -r qemu _ < <(cmake -DARCH="$arch" -P cmake/machines.cmake)
        qemu=${qemu%-static}
        [ -e "/proc/sys/fs/binfmt_misc/$qemu" ] || grep -v '^#' "/usr/lib/binfmt.d/$qemu.conf" |
            $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null
    done
}

# subids: subordinate user and group ids for this user, which unshare mode maps a chroot's
# users onto.
subids() {
    local file sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    for file in /etc/subuid /etc/subgid; do
        grep -q "^$(id -un):" "$file" ||
            echo "$(id -un):100000:65536" | $sudo tee -a "$file" >/dev/null
    done
}

# build_chroot RELEASE ARCH: prints the path of a clean buildd chroot of Debian RELEASE,
# up to date, for ARCH, as Debian's build daemons build in: a tarball, made once in
# $CHROOTS and then reused, that keeps its package lists, so that builds in it need no
# network. Beside it, .libc names the newest C library in its archive.
build_chroot() {
    local tarball=$CHROOTS/$1-$2.tar sources
    if [ ! -e "$tarball" ]; then
        [ "$2" = "$(dpkg --print-architecture)" ] || emulate "$2" >&2
        mkdir -p "$CHROOTS"
        mapfile -t sources < <(debian_sources "$1")
        # shellcheck disable=SC2016 # $1 is the chroot, in the hook's own shell
        run "$tarball.log" env LIBC="$tarball.libc" mmdebstrap --variant=buildd --arch="$2" \
            --skip=cleanup/apt/lists --customize-hook='chroot "$1" apt-cache policy libc6-dev |
                sed -n "s/^ *Candidate: //p" >"$LIBC"' "$1" "$CHROOTS/new.tar" "${sources[@]}"
        mv "$CHROOTS/new.tar" "$tarball"
    fi
    echo "$tarball"
}

# oldest_cpu ARCH CHROOT: the first of the machine's CPUs on which this host's qemu-user
# runs the chroot's static ldconfig; nothing for the native architecture.
oldest_cpu() {
    local qemu cpus cpu dir
    read -r qemu cpus < <(cmake -DARCH="$1" -P cmake/machines.cmake)
    [ "$1" != "$(dpkg --print-architecture)" ] && [ -n "$cpus" ] || return 0
    dir=$(mktemp -d)
    tar -xf "$2" -C "$dir" ./usr/sbin/ldconfig
    for cpu in $cpus; do
        "$qemu" -cpu "$cpu" "$dir/usr/sbin/ldconfig" --version >/dev/null 2>&1 || continue
        rm -r "$dir"
        echo "$cpu"
        return
    done
    rm -r "$dir"
    echo "scripts/${0##*/}: $qemu runs on none of: $cpus" >&2
    return 1
}

# sbuild_in RELEASE ARCH DSC OUT: builds the source package DSC for ARCH as Debian's build
# daemons do, with sbuild in a clean chroot of RELEASE; its tests run unless
# DEB_BUILD_OPTIONS has nocheck, under qemu-user on the machine's oldest CPU for another
# architecture. The packages, build records and build log land in OUT. Fails if the
# executable holds an older C library than the newest in RELEASE's archive.
sbuild_in() {
    local chroot cpu config built newest distribution
    # The changelog's, which the .changes must name.
    distribution=$(dpkg-parsechangelog -S Distribution)
    chroot=$(build_chroot "$1" "$2")
    cpu=$(oldest_cpu "$2" "$chroot")
    subids
    mkdir -p "$4"
    config=$4/sbuild.conf
    # shellcheck disable=SC2016 # Perl's $, not the shell's
    echo "\$build_environment = { ${cpu:+QEMU_CPU => '$cpu'} }; 1;" >"$config"
    (cd "$4" && run "$2.log" env SBUILD_CONFIG="$config" sbuild --chroot-mode=unshare \
        --chroot="$chroot" --dist="$distribution" --arch="$2" --no-apt-update --no-apt-upgrade \
        --no-apt-distupgrade --no-run-lintian --no-run-autopkgtest --nolog "$3")
    built=$(dpkg-deb -f "$4"/stepwave_*_"$2".deb Built-Using)
    newest=$(cat "$chroot.libc")
    [ "$built" = "glibc (= $newest)" ] || {
        echo "scripts/${0##*/}: the $2 package is built using $built, not $1's newest" \
            "C library, $newest" >&2
        return 1
    }
}

# lint CHANGES...: lintian, pedantic, on these uploads. Every tag fails but two that
# Debian 12's lintian gives wrongly: it predates policy 4.7, which the package follows, and
# dpkg's Static-Built-Using field.
lint() {
    local tags
    tags=$(lintian --pedantic --display-info --fail-on error,warning,info,pedantic \
        --suppress-tags newer-standards-version,unknown-field "$@") || {
        echo "$tags" >&2
        echo "scripts/${0##*/}: lintian found the above in ${*##*/}" >&2
        return 1
    }
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
