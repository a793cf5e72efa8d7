#!/usr/bin/env bash
# Checks what ships: the install tree, the man page, the Debian package and the
# recording in docs/; and that another configuration of the same source, elsewhere,
# packs the same bytes. REQUIRE_PIE is 1 where the build must be static-pie; EMULATOR
# runs the executable in a cross build.
# Usage: shipping_test.sh SOURCE BUILD TOOLCHAIN_FILE|"" CXX BUILD_TYPE REQUIRE_PIE [EMULATOR...]
set -u
src=$1
build=$2
toolchain=$3
cxx=$4
type=$5
required=$6
run=("${@:7}")
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

# pack BUILD OUTPUT_DIR: the .deb, packed with no help from the caller's environment.
pack() {
    (cd "$tmp" && env -u SOURCE_DATE_EPOCH cpack --config "$1/CPackConfig.cmake" -G DEB \
        -B "$2" >/dev/null) && ls "$2"/*.deb
}
deb=$(pack "$build" "$tmp/package") || fail "cpack"
expect "package files" "./usr/bin/stepwave ./usr/share/doc/stepwave/changelog.gz \
./usr/share/doc/stepwave/copyright ./usr/share/lintian/overrides/stepwave \
./usr/share/man/man1/stepwave.1.gz " \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')"
expect "man page version" "$(dpkg-deb -f "$deb" Version)" \
    "$(zcat "$page" | sed -n 's/^\.TH .*"stepwave \([^"]*\)".*/\1/p')"
lint=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $lint"

# Stripped: no symbol table. Static: no interpreter, no shared library needed.
# Hardened: RELRO, and where static-pie, position independent and bound at start. It
# is static-pie where required, and wherever the C library has the start-up for it.
pie=$required
[ "$("$cxx" -print-file-name=rcrt1.o)" = rcrt1.o ] || pie=1
want=("EXEC GNU_RELRO" "BIND_NOW DYN GNU_RELRO")
dpkg-deb -x "$deb" "$tmp/root"
for program in "$tmp/root/usr/bin/stepwave" "$tmp/prefix/bin/stepwave"; do
    expect "ELF properties of $program" "${want[pie]}" \
        "$(readelf --file-header --sections --program-headers --dynamic --wide "$program" |
            grep -oE '\.symtab|INTERP|NEEDED|GNU_RELRO|BIND_NOW|Type: +[A-Z]+' |
            sed 's/Type: *//' | sort -u | xargs)"
done

# The changelog made from CHANGELOG.md stays within 80 columns, one item per entry,
# even where Markdown's lines take 79 columns and a bracket is left open.
line="$(printf 'word %.0s' {1..15})w"
expect "Debian changelog from Markdown" "within 80, 2 items" "$(
    printf '# x\n\n## 1 - 2026-01-01\n\n- [%s\n  %s]\n- b\n' "$line" "$line" |
        awk -v package=p -v contact=c -f "$src/cmake/changelog.awk" |
        awk '{ if (length > w) w = length } /^  \* / { n++ }
            END { printf "%s, %d items", w <= 80 ? "within 80" : w " columns", n }')"

# Another configuration of a copy of the source, with another umask, at another path,
# inside another git repository, and at another time, packs the same bytes. Its build
# tree has the same place in the copy as this one in the source.
copy=$tmp/outer/stepwave
mkdir -p "$copy"
if command -v git >/dev/null; then
    git -C "$tmp/outer" init -q &&
        git -C "$tmp/outer" -c user.name=x -c user.email=x@x commit -q --allow-empty -m x
fi
umask 077
tar -C "$src" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$copy"
configure() {
    cmake -S "$copy" -B "$copy/$1" ${toolchain:+"-DCMAKE_TOOLCHAIN_FILE=$toolchain"} \
        "-DCMAKE_CXX_COMPILER=$cxx" "${@:2}" >"$tmp/configure.log" 2>&1
}
place=${build#"$src"/}
configure "$place" -DCMAKE_BUILD_TYPE="$type" -DSTEPWAVE_STATIC=ON &&
    cmake --build "$copy/$place" >/dev/null &&
    again=$(pack "$copy/$place" "$tmp/again") ||
    fail "second configuration: $(cat "$tmp/configure.log")"
cmp "$deb" "${again:-/dev/null}" || fail "a second configuration packs other bytes"

# A build that is not the shipped one refuses to pack, and names the preset to use.
configure plain || fail "plain configure: $(cat "$tmp/configure.log")"
pack "$copy/plain" "$tmp/plain" >"$tmp/refusal" 2>&1 && fail "a plain build packed"
tr -s " \n" " " <"$tmp/refusal" | grep -q -- "--preset package, or another" ||
    fail "refusal: $(cat "$tmp/refusal")"

# Where static-pie is required, a toolchain without its start-up stops the configure.
if ((required)); then
    mkdir "$tmp/broken" && echo broken >"$tmp/broken/rcrt1.o"
    configure nopie -DCMAKE_BUILD_TYPE="$type" -DSTEPWAVE_STATIC=ON \
        "-DCMAKE_EXE_LINKER_FLAGS=-B$tmp/broken" && fail "configured without static-pie"
    grep -q "cannot link -static-pie" "$tmp/configure.log" || fail "$(cat "$tmp/configure.log")"
fi

[ "$failures" = 0 ] && echo "all shipping checks passed"
exit $((failures > 0))
