#!/usr/bin/env bash
# Checks what a user gets from an install and from the .deb, away from the
# build tree:
#   (a) `cmake --install` into a temporary prefix, moved elsewhere, then the
#       installed qsalvage run from another folder: --version, info, and a
#       carve of tests/data/carve.img that must find the same files as the
#       build tree's qsalvage, with no signatures file beside the program;
#   (b) the .deb made by cpack, installed with dpkg -i (root), /usr/bin/qsalvage
#       run the same way, its man page found, then the package removed.
# Any step that fails stops the script with a non-zero status.
#   usage: package-test.sh [--install-only] BUILD_DIR
set -euo pipefail

install_only=0
if [ "${1:-}" = --install-only ]; then
    install_only=1
    shift
fi
build=$(cd "${1:?usage: package-test.sh [--install-only] BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)

fail() {
    echo "package-test: FAILED: $*" >&2
    exit 1
}
step() { echo "-- $*"; }

[ -f "$build/CMakeCache.txt" ] || fail "$build is not a build folder"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
[ -x "$build/qsalvage" ] || fail "$build/qsalvage is not built"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
work=$(mktemp -d)
installed_package=0
cleanup() {
    if [ "$installed_package" = 1 ]; then
        $sudo dpkg -r qsalvage >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A user with no data folder of their own: the default signatures can only
# come from the install.
mkdir -p "$work/home" "$work/elsewhere"
run() { (cd "$work/elsewhere" && env HOME="$work/home" XDG_DATA_HOME="$work/home/data" "$@"); }

image="$work/carve.img"
xz -dc "$source_dir/tests/data/carve.img.xz" >"$image"

# The carved files as "SHA256 CATEGORY/NAME", sorted by name.
carved_files() { (cd "$1" && find . -type f -printf '%P\0' | sort -z | xargs -0 -r sha256sum | awk '{ $1 = $1; print }'); }

# The build tree's own carve, with the signatures beside it: what every
# installed copy must find too.
run "$build/qsalvage" carve "$image" --disk --output "$work/expected" >"$work/carve.log" 2>&1 || {
    cat "$work/carve.log"
    fail "the build tree's carve"
}
carved_files "$work/expected" >"$work/expected.txt"
expected_count=$(wc -l <"$work/expected.txt")
[ "$expected_count" -gt 0 ] || fail "the build tree's qsalvage carved nothing from carve.img"
# Files of the manifest found byte for byte among them.
known=$(awk -F'\t' '!/^#/ && NF >= 4 { print $4 }' "$source_dir/tests/data/carve.manifest.txt" | sort -u |
    grep -c -x -F -f - <(awk '{ print $1 }' "$work/expected.txt") || true)
[ "$known" -gt 0 ] || fail "none of the carved files is one of carve.manifest.txt"

# Runs QSALVAGE (an installed copy) from another folder and checks what a
# user would see.
check_program() {
    local qsalvage=$1 label=$2
    step "$label: --version"
    local said
    said=$(run "$qsalvage" --version) || fail "$label: --version"
    echo "$said"
    [ "$said" = "qsalvage (Quenmar Image Salvage) $version" ] || fail "$label: --version says \"$said\""

    step "$label: info"
    run "$qsalvage" info "$image" >"$work/info.txt" || fail "$label: info carve.img"
    grep -qi "raw" "$work/info.txt" || fail "$label: info does not name the format: $(cat "$work/info.txt")"

    step "$label: carve"
    rm -rf "$work/carved"
    run "$qsalvage" carve "$image" --disk --output "$work/carved" >"$work/carve.log" 2>&1 || {
        cat "$work/carve.log"
        fail "$label: carve"
    }
    carved_files "$work/carved" >"$work/carved.txt"
    diff -u "$work/expected.txt" "$work/carved.txt" || fail "$label: carve found other files than the build tree's"
    echo "$(wc -l <"$work/carved.txt") files carved ($known of them in the manifest), as from the build tree"
}

# (a) The install, moved after installing: it finds its data relative to itself.
step "cmake --install"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" || {
    cat "$work/install.log"
    fail "cmake --install"
}
mv "$work/prefix" "$work/moved"
prefix="$work/moved"
for file in bin/qsalvage share/qsalvage/FileSetting.txt share/doc/qsalvage/README.md \
    share/bash-completion/completions/qsalvage; do
    [ -f "$prefix/$file" ] || fail "the install has no $file"
done
[ ! -e "$prefix/bin/FileSetting.txt" ] || fail "the install puts FileSetting.txt beside the program"
if find "$prefix" -name 'qis_*tests' -o -name 'qsalvage-gui-tools' | grep -q .; then
    fail "the install holds tests or qsalvage-gui-tools"
fi
if command -v help2man >/dev/null; then
    [ -f "$prefix/share/man/man1/qsalvage.1.gz" ] || fail "the install has no qsalvage man page"
fi
if [ -x "$build/qsalvage-gui" ]; then
    for file in bin/qsalvage-gui share/applications/qsalvage-gui.desktop share/icons/hicolor/scalable/apps/qsalvage.svg \
        share/man/man1/qsalvage-gui.1.gz; do
        [ -f "$prefix/$file" ] || fail "the install has no $file"
    done
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$prefix/share/applications/qsalvage-gui.desktop" || fail "desktop-file-validate"
    fi
fi
check_program "$prefix/bin/qsalvage" "installed"

# Without any default signatures the carve says where it looked.
mv "$prefix/share/qsalvage/FileSetting.txt" "$work/FileSetting.txt"
if run "$prefix/bin/qsalvage" carve "$image" --disk --output "$work/none" 2>"$work/missing.txt"; then
    fail "carve with no signatures anywhere succeeded"
fi
grep -qF "$prefix/share/qsalvage/FileSetting.txt" "$work/missing.txt" ||
    fail "the missing-signatures message does not name the data folder: $(cat "$work/missing.txt")"
mv "$work/FileSetting.txt" "$prefix/share/qsalvage/FileSetting.txt"

# The completion offers the verbs and a verb's options.
completion=/usr/share/bash-completion/bash_completion
if [ -f "$completion" ]; then
    step "bash completion"
    complete_words() { # the words offered after the command line "$@" (the last word being completed)
        bash -c 'source "$1" && source "$2" && shift 2 && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) &&
            COMP_LINE="$*" && COMP_POINT=${#COMP_LINE} && _qsalvage && printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' \
            - "$completion" "$prefix/share/bash-completion/completions/qsalvage" "$@"
    }
    said=$(complete_words qsalvage ca)
    [ "$said" = "candidates carve cat" ] || fail "completing \"qsalvage ca\" offers \"$said\""
    said=$(complete_words qsalvage carve img --no-)
    [ "$said" = "--no-default-signatures --no-skip --no-validation" ] || fail "completing carve --no- offers \"$said\""
    said=$(complete_words qsalvage list img --mode d)
    [ "$said" = "deep" ] || fail "completing --mode d offers \"$said\""
    # Every option a verb's help names is offered for it, so the two cannot drift apart.
    for verb in info volumes list save candidates carve cat search export "signatures add" "signatures list"; do
        # shellcheck disable=SC2086
        for option in $("$prefix/bin/qsalvage" $verb --help | sed -n '/^Options:/,/^$/p' | grep -o -- '--[a-z-]*' | grep -v -- '^--help$'); do
            # shellcheck disable=SC2086
            said=$(complete_words qsalvage $verb img "$option" || true)
            [[ " $said " == *" $option "* ]] || fail "completing \"qsalvage $verb $option\" does not offer it"
        done
    done
    echo "verbs, options (each verb's help) and --mode values complete"
fi

if [ "$install_only" = 1 ]; then
    echo "package-test: the install works"
    exit 0
fi

# (b) The .deb.
step "cpack -G DEB"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log") || {
    cat "$work/cpack.log"
    fail "cpack"
}
deb=$(ls "$work"/deb/qsalvage_*.deb)
echo "$(basename "$deb")"
dpkg-deb -f "$deb" Package Version Section Maintainer Depends
[ "$(dpkg-deb -f "$deb" Package)" = qsalvage ] || fail "the package is not named qsalvage"
[ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "the package has no Depends line"
dpkg-deb -c "$deb" | awk '{ print $6 }'

step "dpkg -i"
installed_package=1
if ! $sudo dpkg -i "$deb"; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -f -y -qq || fail "apt-get -f could not meet the package's dependencies"
fi
dpkg-query -W -f='${Status}\n' qsalvage | grep -q "install ok installed" || fail "qsalvage is not installed"
[ ! -e /usr/bin/FileSetting.txt ] || fail "the package puts FileSetting.txt beside the program"
check_program /usr/bin/qsalvage "package"
if command -v man >/dev/null; then
    page=$(man -w qsalvage) || fail "man -w qsalvage finds no page"
    echo "man page: $page"
fi

step "dpkg -r"
$sudo dpkg -r qsalvage
installed_package=0
[ ! -e /usr/bin/qsalvage ] || fail "dpkg -r left /usr/bin/qsalvage"
echo "package-test: the install and the package work"
