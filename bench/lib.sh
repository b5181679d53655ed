# Shared by the benchmark scripts (sourced). The caller defines log, die,
# need TOOL PACKAGE and repo_root.

# Sets qsalvage to the binary to measure: the one given as $1, or a Release
# build of this checkout in $BENCH_BUILD_DIR (kept, so later runs rebuild
# only what changed; the project's own build/ may be a debug or sanitizer
# build, which would say nothing about speed).
resolve_qsalvage() {
    if [[ $# -ge 1 && -n $1 ]]; then
        qsalvage=$1
        [[ -x $qsalvage ]] || die "$qsalvage is not an executable"
        qsalvage=$(cd "$(dirname "$qsalvage")" && pwd)/$(basename "$qsalvage")
        return
    fi
    need cmake cmake
    need ninja ninja-build
    local build_dir=${BENCH_BUILD_DIR:-${TMPDIR:-/tmp}/qsalvage-bench-build}
    log "building qsalvage (Release) in $build_dir"
    cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQIS_BUILD_TESTS=OFF >/dev/null || die "cmake configure failed"
    ninja -C "$build_dir" qsalvage >/dev/null || die "build failed"
    qsalvage=$build_dir/qsalvage
}
