#!/usr/bin/env bash
# Checks what a static build installs: the files, the executable's bytes and how it is
# linked, the man page, and the recording in docs/; and that where it must be static-pie
# (STATIC_PIE 1) a toolchain without the start-up for that stops the configure.
# EMULATOR runs the executable in a cross build.
# Usage: shipping_test.sh SOURCE BUILD CXX STATIC_PIE [EMULATOR...]
set -u
src=$1
build=$2
cxx=$3
pie=$4
run=("${@:5}")
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

cmake --install "$build" --prefix "$tmp/prefix" --strip >/dev/null || fail "cmake --install"
program=$tmp/prefix/bin/stepwave
expect "installed files" "./bin/stepwave ./share/man/man1/stepwave.1" \
    "$(cd "$tmp/prefix" && find . -type f | sort | xargs)"
expect "installed program's first bytes" "0 0 0 5 5" \
    "$("${run[@]}" "$program" | head -c 5 | od -An -tu1 | xargs)"
expect "recording, decoded" "" "$(cmp <("${run[@]}" "$program" | head -c 160000) \
    <(flac -dcs --force-raw-format --endian=little --sign=unsigned "$src/docs/stepwave.flac") 2>&1)"

page=$tmp/prefix/share/man/man1/stepwave.1
expect "man warnings" "" "$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
expect "man page sections" "NAME SYNOPSIS DESCRIPTION EXIT STATUS EXAMPLES SEE ALSO" \
    "$(sed -n 's/^\.SH "\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$page" | xargs)"
expect "man page version" "$(cmake -P "$src/cmake/version.cmake" | cut -d' ' -f1)" \
    "$(sed -n 's/^\.TH .*"stepwave \([^"]*\)".*/\1/p' "$page")"

# Stripped: no symbol table. Static: no interpreter, no shared library needed.
# Hardened: RELRO, and where static-pie, position independent and bound at start.
want=("EXEC GNU_RELRO" "BIND_NOW DYN GNU_RELRO")
expect "ELF properties" "${want[pie]}" \
    "$(readelf --file-header --sections --program-headers --dynamic --wide "$program" |
        grep -oE '\.symtab|INTERP|NEEDED|GNU_RELRO|BIND_NOW|Type: +[A-Z]+' |
        sed 's/Type: *//' | sort -u | xargs)"

# Where it must be static-pie, a toolchain without the start-up stops the configure.
if ((pie)); then
    mkdir "$tmp/broken" && echo broken >"$tmp/broken/rcrt1.o"
    cmake -S "$src" -B "$tmp/nopie" "-DCMAKE_CXX_COMPILER=$cxx" -DSTEPWAVE_STATIC=ON \
        "-DCMAKE_EXE_LINKER_FLAGS=-B$tmp/broken" >"$tmp/configure.log" 2>&1 &&
        fail "configured without static-pie"
    grep -q "cannot link -static-pie" "$tmp/configure.log" || fail "$(cat "$tmp/configure.log")"
fi

[ "$failures" = 0 ] && echo "all shipping checks passed"
exit $((failures > 0))
