# shellcheck shell=bash
# Sourced by the scripts: what the builds need and how they run, the chroots they build
# in, and how a release's tarballs are made.
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
native=$(dpkg --print-architecture)
# No debug symbols package: the program is small, and its source at hand.
DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }noautodbgsym parallel=$(nproc)"
export DEB_BUILD_OPTIONS

# need PACKAGE...: installs those of the packages that are not installed yet.
need() {
    local package missing=()
    for package; do
        dpkg-query -W -f '${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^ii' ||
            missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    echo "installing: ${missing[*]}"
    $sudo apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

# architectures: the native architecture, then the table of machines' others.
architectures() {
    echo "$native"
    sed -n 's/^machine(\([a-z0-9]*\) .*/\1/p' cmake/machines.cmake | grep -vx "$native"
}

# build_deps ARCH...: installs debian/control's Build-Depends, and for each architecture
# cross-built the cross profile's and Debian's cross compiler.
build_deps() {
    local arch profile="" compilers=()
    for arch; do
        [ "$arch" = "$native" ] && continue
        profile=cross
        compilers+=("g++-$(dpkg-architecture -a "$arch" -q DEB_HOST_GNU_TYPE 2>/dev/null)")
    done
    need dpkg-dev "${compilers[@]}"
    dpkg-checkbuilddeps ${profile:+-P$profile} 2>/dev/null && return
    $sudo apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -q --no-install-recommends \
        ${profile:+-P$profile} ./
}

# debian_sources RELEASE: an installed Debian's apt lines: release, -updates, -security.
debian_sources() {
    local mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
    printf 'deb %s %s main\n' "$mirror" "$1" "$mirror" "$1-updates" \
        "${DEBIAN_SECURITY:-http://deb.debian.org/debian-security}" "$1-security"
}

machine() { # ARCH: the table of machines' qemu-user and CPUs for it, oldest first
    cmake -DARCH="$1" -P cmake/machines.cmake
}

# build_chroot RELEASE ARCH: the path of a clean, up-to-date buildd chroot, a tarball made
# once in $CHROOTS, with its package lists, so that builds need no network, and beside it
# (.libc) its archive's newest C library. Another architecture's programs run through
# qemu-user, which binfmt_misc holds open, so that it also works in the chroot.
build_chroot() {
    local tarball=$CHROOTS/$1-$2.tar sources qemu
    if [ ! -e "$tarball" ] && [ "$2" != "$native" ]; then
        need qemu-user-static arch-test >&2
        read -r qemu _ < <(machine "$2")
        [ -e /proc/sys/fs/binfmt_misc/register ] ||
            $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
        [ -e "/proc/sys/fs/binfmt_misc/${qemu%-static}" ] ||
            grep -v '^#' "/usr/lib/binfmt.d/${qemu%-static}.conf" |
            $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null
    fi
    if [ ! -e "$tarball" ]; then
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

# sbuild_in RELEASE ARCH DSC OUT: builds DSC for ARCH with sbuild in a clean chroot of
# RELEASE, as Debian's build daemons do, with the tests (another architecture's on the
# first of its CPUs that the host's qemu runs); all lands in OUT. Fails if the executable
# holds an older C library than the newest of RELEASE's archive.
sbuild_in() {
    local chroot qemu cpus cpu="" built file
    chroot=$(build_chroot "$1" "$2")
    read -r qemu cpus < <(machine "$2")
    mkdir -p "$4"
    if [ "$2" != "$native" ] && [ -n "$cpus" ]; then
        tar -xOf "$chroot" ./usr/sbin/ldconfig >"$4/ldconfig" && chmod +x "$4/ldconfig"
        for cpu in $cpus ""; do
            "$qemu" -cpu "$cpu" "$4/ldconfig" --version >/dev/null 2>&1 && break
        done
        [ -n "$cpu" ] || { echo "$qemu runs on none of: $cpus" >&2; return 1; }
    fi
    # shellcheck disable=SC2016 # Perl's $, not the shell's
    echo "\$build_environment = { ${cpu:+QEMU_CPU => '$cpu'} }; 1;" >"$4/sbuild.conf"
    for file in /etc/subuid /etc/subgid; do # for unshare mode's users of the chroot
        grep -q "^$(id -un):" "$file" ||
            echo "$(id -un):100000:65536" | $sudo tee -a "$file" >/dev/null
    done
    # The .changes names the changelog's distribution.
    run "$4/$2.log" env -C "$4" SBUILD_CONFIG="$4/sbuild.conf" sbuild --chroot-mode=unshare \
        --chroot="$chroot" --dist="$(dpkg-parsechangelog -S Distribution)" --arch="$2" \
        --no-apt-update --no-apt-upgrade --no-apt-distupgrade --no-run-lintian \
        --no-run-autopkgtest --nolog "$3"
    built=$(dpkg-deb -f "$4"/stepwave_*_"$2".deb Built-Using)
    [ "$built" = "glibc (= $(cat "$chroot.libc"))" ] ||
        { echo "the $2 package is built using $built, not $1's newest glibc" >&2; return 1; }
}

# lint CHANGES...: lintian; every tag fails but two that Debian 12's gives wrongly: it
# predates policy 4.7, and dpkg's Static-Built-Using field.
lint() {
    lintian --pedantic --display-info --fail-on error,warning,info,pedantic \
        --suppress-tags newer-standards-version,unknown-field "$@" >&2
}

# run LOG COMMAND...: COMMAND, its output kept in LOG and shown, on standard error, only
# if it fails; then the script stops.
run() {
    "${@:2}" >"$1" 2>&1 || { cat "$1" >&2; echo "scripts/${0##*/}: failed: ${*:2}" >&2; exit 1; }
}

# tarball DIR OUTPUT: DIR's files and links as a .tar.gz under DIR's name, in a fixed order,
# owner 0, normalised modes, SOURCE_DATE_EPOCH's time, and no directories, so that unpacking
# it over a prefix leaves the prefix's own as they are.
tarball() {
    (cd "$(dirname "$1")" && find "$(basename "$1")" ! -type d -print0 | LC_ALL=C sort -z |
        tar --null --no-recursion --files-from=- --format=gnu --owner=0 --group=0 \
            --numeric-owner --mode=u=rwX,go=rX --mtime="@$SOURCE_DATE_EPOCH" -cf -) |
        gzip -9n >"$2"
}
