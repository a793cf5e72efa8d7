#!/usr/bin/env bash
# Checks what ships: the install tree, the man page, the Debian package and the
# recording in docs/. PIE is 1 where the executable is static-pie; EMULATOR runs it in
# a cross build. Usage: shipping_test.sh SOURCE_DIR BUILD_DIR PIE [EMULATOR...]
set -u
src=$1
build=$2
pie=$3
run=("${@:4}")
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

cmake --install "$build" --prefix "$tmp/prefix" --strip >/dev/null || fail "cmake --install"
expect "installed files" "./bin/stepwave ./share/man/man1/stepwave.1.gz " "$(files_under "$tmp/prefix")"
expect "installed program's first bytes" "0 0 0 5 5" \
    "$("${run[@]}" "$tmp/prefix/bin/stepwave" | head -c 5 | od -An -tu1 | xargs)"
expect "recording, decoded" "" "$(cmp <("${run[@]}" "$tmp/prefix/bin/stepwave" | head -c 160000) \
    <(flac -dcs --force-raw-format --endian=little --sign=unsigned "$src/docs/stepwave.flac") 2>&1)"

page=$tmp/prefix/share/man/man1/stepwave.1.gz
expect "man warnings" "" "$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
expect "man page sections" "NAME SYNOPSIS DESCRIPTION EXIT STATUS EXAMPLES SEE ALSO" \
    "$(zcat "$page" | sed -n 's/^\.SH "\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' | xargs)"

# Packed twice, a second apart: the same bytes, with no help from the caller.
pack() {
    (cd "$tmp" && env -u SOURCE_DATE_EPOCH cpack --config "$build/CPackConfig.cmake" -G DEB \
        -B "$tmp/$1" >/dev/null) || fail "cpack"
}
pack package && sleep 1 && pack again
deb=$(ls "$tmp"/package/*.deb)
cmp -s "$deb" "$tmp/again/${deb##*/}" || fail "two packages from one build differ"
expect "package files" "./usr/bin/stepwave ./usr/share/doc/stepwave/changelog.gz \
./usr/share/doc/stepwave/copyright ./usr/share/lintian/overrides/stepwave \
./usr/share/man/man1/stepwave.1.gz " \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')"
expect "man page version" "$(dpkg-deb -f "$deb" Version)" \
    "$(zcat "$page" | sed -n 's/^\.TH .*"stepwave \([^"]*\)".*/\1/p')"
lint=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $lint"
expect "package section" "sound" "$(dpkg-deb -f "$deb" Section)"
expect "package suggests" "alsa-utils | sox | ffmpeg" "$(dpkg-deb -f "$deb" Suggests)"
expect "package dependencies" "" "$(dpkg-deb -f "$deb" Depends Pre-Depends)"
dpkg-deb -x "$deb" "$tmp/root"
# Stripped: no symbol table. Static: no interpreter, no shared library needed.
# Hardened: RELRO, and where static-pie, position independent and bound at start.
want=("EXEC GNU_RELRO" "BIND_NOW DYN GNU_RELRO")
for program in "$tmp/root/usr/bin/stepwave" "$tmp/prefix/bin/stepwave"; do
    expect "ELF properties of $program" "${want[pie]}" \
        "$(readelf --file-header --sections --program-headers --dynamic --wide "$program" |
            grep -oE '\.symtab|INTERP|NEEDED|GNU_RELRO|BIND_NOW|Type: +[A-Z]+' |
            sed 's/Type: *//' | sort -u | xargs)"
done

[ "$failures" = 0 ] && echo "all shipping checks passed"
exit $((failures > 0))
