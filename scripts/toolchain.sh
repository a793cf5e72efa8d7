# Sourced by scripts/test and scripts/release: what a configure preset builds with, read
# from the preset and its toolchain file, so that a new machine is only those two.

# preset_cxx PRESET: the C++ compiler command that PRESET configures with.
preset_cxx() {
    local vars toolchain
    vars=$(cmake --preset "$1" -N) || return
    toolchain=$(sed -n 's/^ *CMAKE_TOOLCHAIN_FILE[^=]*="\(.*\)"$/\1/p' <<<"$vars")
    if [[ $vars =~ CMAKE_CXX_COMPILER[^=]*=\"([^\"]*)\" ]]; then
        echo "${BASH_REMATCH[1]}"
    elif [ -n "$toolchain" ]; then
        echo "$(sed -n 's/^set(triple \(.*\))$/\1/p' "$toolchain")-g++"
    else
        echo g++
    fi
}

# cxx_package CXX: the Debian package that has the compiler CXX.
cxx_package() {
    case $1 in clang++) echo clang ;; *-g++) echo "g++-${1%-g++}" ;; *) echo "$1" ;; esac
}
