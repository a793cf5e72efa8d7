#!/usr/bin/env bash
# Checks what ships: the install tree, the man page and the Debian package.
# Usage: shipping_test.sh SOURCE_DIR BUILD_DIR
set -u
src=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# expect WHAT WANT GOT
expect() {
    [ "$2" = "$3" ] || fail "$1: want [$2], got [$3]"
}
files_under() {
    (cd "$1" && find . -type f | sort | tr '\n' ' ')
}

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null || fail "cmake --install"
expect "installed files" "./bin/stepwave ./share/man/man1/stepwave.1.gz " "$(files_under "$tmp/prefix")"
expect "installed program's first bytes" "0 0 0 5 5" \
    "$("$tmp/prefix/bin/stepwave" | head -c 5 | od -An -tu1 | xargs)"

for page in "$src/docs/stepwave.1" "$tmp/prefix/share/man/man1/stepwave.1.gz"; do
    expect "man warnings for $page" "" "$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
done
expect "man page sections" "NAME SYNOPSIS DESCRIPTION EXIT STATUS EXAMPLES SEE ALSO" \
    "$(sed -n 's/^\.SH "\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$src/docs/stepwave.1" | xargs)"

(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/package" >/dev/null) ||
    fail "cpack"
deb=$(ls "$tmp"/package/*.deb)
expect "package files" "./usr/bin/stepwave ./usr/share/man/man1/stepwave.1.gz " \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')"
expect "package section" "sound" "$(dpkg-deb -f "$deb" Section)"
expect "package suggests" "alsa-utils | sox | ffmpeg" "$(dpkg-deb -f "$deb" Suggests)"
expect "package dependencies" "" "$(dpkg-deb -f "$deb" Depends Pre-Depends)"
dpkg-deb -x "$deb" "$tmp/root"
# Stripped: no symbol table. Static: no interpreter and no dynamic section.
expect "packaged program's symbol table, interpreter, dynamic section" "LOAD" \
    "$(readelf --sections --program-headers --wide "$tmp/root/usr/bin/stepwave" |
        grep -oE '\.symtab|INTERP|DYNAMIC|LOAD' | sort -u | xargs)"

[ "$failures" = 0 ] && echo "all shipping checks passed"
exit $((failures > 0))
