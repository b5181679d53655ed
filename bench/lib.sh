# shellcheck shell=bash
# Shared by the benchmark scripts, which source it before anything else.
# The caller sets bench_name (its file name; its messages start with it)
# and repo_root. The functions further down work on the caller's settings
# (work, outputs, RUNS, PART_START, qsalvage, vhdx, raw, ...); each one
# says which it needs and which it sets.
# shellcheck disable=SC2154  # those settings are the caller's

# ------------------------------------------------------------- messages ----

log() { printf '%s\n' "$*" >&2; }
die() { log "$bench_name: $*"; exit 2; }
fail() { log ""; log "$bench_name: FAILED: $*"; exit 1; }
started=$SECONDS
stage() { log ""; log "== [$(( SECONDS - started ))s] $*"; }

# ---------------------------------------------------------------- tools ----

need() { # TOOL PACKAGE
    command -v "$1" >/dev/null 2>&1 || die "$1 is missing (Debian package: $2)"
}

# GNU time is the one that reports peak RSS; the shell keyword cannot. Root
# gets it installed; anyone else is told how, HINT ending that message.
# shellcheck disable=SC2120  # most callers give no HINT
need_gnu_time() { # [HINT]
    if [[ -x /usr/bin/time ]]; then
        return 0
    fi
    if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
        log "/usr/bin/time is missing; installing the Debian package 'time'"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null ||
            die "could not install 'time'; run: apt-get update && apt-get install time"
    else
        die "/usr/bin/time is missing; install the Debian package 'time'${1:+ $1}"
    fi
}

whole_numbers() { # KNOB... : each one that is set must be a whole number
    local knob
    for knob in "$@"; do
        [[ ${!knob:-0} =~ ^[0-9]+$ ]] || die "$knob must be a whole number, not '${!knob}'"
    done
}

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
    # The program and the default signatures the carver reads beside it.
    ninja -C "$build_dir" qsalvage default_signatures >/dev/null || die "build failed"
    qsalvage=$build_dir/qsalvage
}

# ------------------------------------------------------------ work area ----

# make_work_area NAME : sets out_parent (BENCH_OUTPUT_DIR, or empty), work
# (a new folder under the temp folder) and outputs, where the save outputs
# go: a new folder in BENCH_OUTPUT_DIR or, without one, $work/out (not made
# yet).
make_work_area() {
    out_parent=${BENCH_OUTPUT_DIR:-}
    [[ -z $out_parent || ( -d $out_parent && -w $out_parent ) ]] || die "BENCH_OUTPUT_DIR $out_parent is not a writable folder"
    work=$(mktemp -d "${TMPDIR:-/tmp}/qsalvage-bench-$1.XXXXXX")
    outputs=$work/out
    if [[ -n $out_parent ]]; then
        outputs=$(mktemp -d "$out_parent/qsalvage-bench-$1-out.XXXXXX")
    fi
}

# on_exit CLEANUP : CLEANUP runs however the script ends, also on Ctrl-C or
# kill, which end it with the usual statuses.
on_exit() {
    # shellcheck disable=SC2064  # $1 is the function's name
    trap "$1" EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# The exit trap for make_work_area's folders, and for a disk that was on its
# way into the cache when the script stopped.
remove_work_area() {
    local rc=$?
    set +e
    [[ -n ${cache_tmp:-} ]] && rm -rf -- "$cache_tmp"
    rm -rf -- "$outputs" "$work"
    exit "$rc"
}

mib_free() { df -Pm "$1" | awk 'NR == 2 { print $4 }'; } # FOLDER

# need_space WORK_MIB OUTPUT_MIB : there must be WORK_MIB free in $work, and
# OUTPUT_MIB for the save outputs in BENCH_OUTPUT_DIR or, without one, in
# $work as well.
need_space() {
    local need=$1 out_need=$2 free out_free
    free=$(mib_free "$work")
    if [[ -n $out_parent ]]; then
        out_free=$(mib_free "$outputs")
        (( out_free >= out_need )) ||
            die "$out_parent has $out_free MiB free, about $out_need MiB are needed"
    else
        need=$(( need + out_need ))
    fi
    (( free >= need )) || die "$work has $free MiB free, about $need MiB are needed"
}

# Other work on the machine shows up as noise in every timing.
note_load() {
    local load1
    read -r load1 _ < /proc/loadavg
    if awk -v l="$load1" -v c="$(nproc)" 'BEGIN { exit !(l > c / 2) }'; then
        log "note: load average is $load1 on $(nproc) CPUs; expect noisy timings"
    fi
}

# ---------------------------------------------------------- cached disk ----

# A disk that takes a while to build is kept in $BENCH_CACHE_DIR as
# KIND-KEY, KEY a hash the caller makes of everything that shapes the disk
# (params, the knobs that do, and the code that builds it), so an unchanged
# disk is built once and a changed one is never reused.
#
# cached_disk KIND KEY NEED_MIB WHAT : sets cached (the disk's folder), vhdx
# and raw ($work/disk.raw, made by raw_from_vhdx). Unless the disk is cached
# or BENCH_REBUILD=1, builds it first: with NEED_MIB free in $work, WHAT
# being built goes to the log, build_disk RAW makes the raw disk and sets
# made_files and made_folders, describe_disk RAW logs what is worth knowing
# of it and prints the lines image.txt keeps on the tools that made it,
# and qemu-img makes the VHDX. Then sets made_files, made_folders and
# build_seconds from the disk's image.txt.
cached_disk() {
    local kind=$1 key=$2 need_mib=$3 what=$4 free build_t0 tools
    local cache_dir=${BENCH_CACHE_DIR:-$repo_root/build/bench-cache}
    cached=$cache_dir/$kind-$key
    vhdx=$cached/disk.vhdx
    raw=$work/disk.raw
    if [[ ${BENCH_REBUILD:-0} == 1 || ! -f $cached/image.txt ]]; then
        free=$(mib_free "$work")
        (( free >= need_mib )) ||
            die "$work has $free MiB free, about $need_mib MiB are needed to build the disk"
        stage "$what"
        build_t0=$EPOCHREALTIME
        build_disk "$raw"
        tools=$(describe_disk "$raw")
        log "   converting to VHDX with qemu-img"
        mkdir -p "$cache_dir"
        cache_tmp=$(mktemp -d "$cache_dir/.$kind-$key.XXXXXX")
        qemu-img convert -f raw -O vhdx "$raw" "$cache_tmp/disk.vhdx"
        build_seconds=$(awk -v a="$build_t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
        {
            echo "$params"
            echo "files=$made_files folders=$made_folders build_seconds=$build_seconds"
            echo "$tools"
        } >"$cache_tmp/image.txt"
        # Renamed into place in one step, so a run that is stopped half-way, or
        # one running alongside, never finds a half-written disk.
        rm -rf -- "$cached"
        mv -T "$cache_tmp" "$cached"
        cache_tmp=
        log "   built in ${build_seconds}s; kept as $vhdx ($(du -m "$vhdx" | cut -f1) MiB)"
        rm -f -- "$raw"
    else
        stage "using the cached disk $vhdx (BENCH_REBUILD=1 builds it again)"
    fi
    read -r made_files made_folders build_seconds < <(sed -n 2p "$cached/image.txt" | tr -s ' =' '  ' | awk '{ print $2, $4, $6 }')
    log "   $made_files files in $made_folders folders (built in ${build_seconds}s)"
}

# Sleuth Kit reads raw images only, so it gets the raw disk qemu-img makes
# back from the VHDX: the same sectors qsalvage reads, but without the
# container, which favours Sleuth Kit (qsalvage maps every read through the
# VHDX block allocation table). Making it takes a few seconds, so it is not
# cached. A save output is about as large as the data on it, and all of
# them, both tools' warm-up and timed ones, are kept until the last save run.
raw_from_vhdx() {
    local raw_used_mib
    raw_used_mib=$(( $(du -m "$vhdx" | cut -f1) + 8 ))
    need_space "$raw_used_mib" $(( raw_used_mib * 2 * (RUNS + 1) * have_tsk_recover ))
    qemu-img convert -f vhdx -O raw "$vhdx" "$raw"
}

# volume_0_is TYPE : whether `qsalvage volumes` shows volume 0 at sector
# PART_START with a type (the second column) that matches the extended
# regular expression TYPE. If not, the whole listing goes to the log.
volume_0_is() {
    if "$qsalvage" volumes "$vhdx" 2>/dev/null |
        awk -v s="$PART_START" -v t="$1" '$1 == 0 && $2 ~ t && $NF == s { ok = 1 } END { exit !ok }'; then
        return 0
    fi
    "$qsalvage" volumes "$vhdx" >&2 || true
    return 1
}

# --------------------------------------------------------------- timing ----

# run_timed OUT COMMAND... : runs COMMAND under GNU time with stdout to OUT;
# sets run_seconds, run_rss_kib, run_user and run_sys. Dirty pages of earlier
# runs (the save outputs) are flushed first so that no run pays for
# another's writeback. A failing command ends the script, after the last
# run_err_lines lines of what it said, unless run_may_fail is 1: then
# run_failed says so.
run_may_fail=0
run_failed=0
run_err_lines=20
run_timed() {
    local out=$1 t0 t1
    shift
    sync
    run_failed=0
    t0=$EPOCHREALTIME
    if ! /usr/bin/time -f '%M %U %S' -o "$work/time.txt" "$@" >"$out" 2>"$work/err.txt"; then
        run_failed=1
        (( run_may_fail )) && return 0
        log "FAILED: $*"
        tail -n "$run_err_lines" "$work/err.txt" | sed 's/^/  | /' >&2 || true
        sed 's/^/  | /' "$work/time.txt" >&2 || true
        exit 1
    fi
    t1=$EPOCHREALTIME
    run_seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    read -r run_rss_kib run_user run_sys < <(tail -n 1 "$work/time.txt")
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
max_of() { printf '%s\n' "$@" | sort -g | tail -n 1; }
min_of() { printf '%s\n' "$@" | sort -g | head -n 1; }
# detail ROUND TOOL [WIDTH] : the log line of the last run, TOOL padded to
# WIDTH (12) characters.
detail() { log "   run $1 $(printf '%-*s' "${3:-12}" "$2") ${run_seconds}s  (user ${run_user}s sys ${run_sys}s, rss $(( run_rss_kib / 1024 )) MiB)"; }

# alternate FIRST SECOND : RUNS rounds in which each of the two functions
# runs once, r being the round. Which one goes first switches every round,
# so drift in the machine's state hits both alike.
alternate() {
    local r
    for (( r = 1; r <= RUNS; r++ )); do
        if (( r % 2 )); then "$1"; "$2"; else "$2"; "$1"; fi
    done
}

# spread WIDTH TOOL SECONDS... : the log line of a tool's runs, TOOL padded
# to WIDTH characters. Interference only ever adds time, so the best run is
# the one closest to the tool's own cost; the median and the worst show how
# noisy the machine was.
spread() {
    local width=$1 tool=$2
    shift 2
    log "   $(printf '%-*s' "$width" "$tool") best $(min_of "$@")s median $(median "$@")s worst $(max_of "$@")s"
}

log_qs_warm_up() { log "   warm-up qsalvage     ${run_seconds}s  rss $(( run_rss_kib / 1024 )) MiB" "$@"; } # [NOTE]

# ------------------------------------------ list and save vs Sleuth Kit ----

# start_listing : sets fls_cmd and qs_list_cmd, the list job on the raw
# disk and on the VHDX, and runs the warm-up of fls, its output kept in
# $work/fls.txt for the counts and its time in fls_warm.
start_listing() {
    fls_cmd=(fls -r -p -o "$PART_START" "$raw")
    qs_list_cmd=("$qsalvage" list "$vhdx" --volume 0 --json)
    stage "list: fls -r -p on disk.raw vs qsalvage list --json on disk.vhdx, best of $RUNS"
    # Warm-up: one run each, so both then read their image from the page
    # cache; their outputs are kept for the counts.
    run_timed "$work/fls.txt" "${fls_cmd[@]}"
    fls_warm=$run_seconds
    log "   warm-up fls          ${run_seconds}s"
}

# warm_up_list FS : the warm-up of qsalvage list, its output kept in
# $work/list.json. A qsalvage that cannot read FS volumes yet ends the
# script with status 4 before anything is timed. Sets qs_files and
# qs_deleted to what count_qs LIST_JSON prints; when qs_files is not the
# caller's fls_files, show_difference FLS_OUTPUT LIST_JSON says why and
# the script fails.
warm_up_list() {
    run_may_fail=1
    run_timed "$work/list.json" "${qs_list_cmd[@]}"
    run_may_fail=0
    if (( run_failed )); then
        if grep -qi 'volumes is not available yet' "$work/err.txt"; then
            log "   qsalvage says: $(grep -i 'volumes is not available yet' "$work/err.txt" | head -n 1)"
            log ""
            log "$bench_name: this qsalvage cannot read $1 volumes yet; stopping before any timing."
            log "        The disk is ready for when it can: $vhdx"
            log "        ($made_files files; fls lists them all in ${fls_warm}s)."
            exit 4
        fi
        log "FAILED: ${qs_list_cmd[*]}"
        tail -n "$run_err_lines" "$work/err.txt" | sed 's/^/  | /' >&2 || true
        exit 1
    fi
    log_qs_warm_up
    read -r qs_files qs_deleted < <(count_qs "$work/list.json")
    log "   qsalvage lists $qs_files files ($qs_deleted deleted)"
    if (( qs_files != fls_files )); then
        show_difference "$work/fls.txt" "$work/list.json"
        fail "qsalvage lists $qs_files files, fls $fls_files; a timing of listings that differ would mean nothing"
    fi
}

# time_listing : the timed rounds of the list job; sets t_fls, t_list and
# rss_list.
time_listing() {
    t_fls=() t_list=() rss_list=()
    alternate time_fls time_list
    spread 8 fls "${t_fls[@]}"
    spread 8 qsalvage "${t_list[@]}"
}
time_fls() { run_timed /dev/null "${fls_cmd[@]}"; t_fls+=("$run_seconds"); detail "$r" fls; }
time_list() {
    run_timed /dev/null "${qs_list_cmd[@]}"
    t_list+=("$run_seconds"); rss_list+=("$run_rss_kib"); detail "$r" qsalvage
}

# The save job: every run writes into a new empty folder under $outputs,
# and no output is deleted before the last run: on ext4 without a journal a
# new inode is never one freed in the last minute, and skipping thousands of
# those on every create slows down a run that follows an `rm -rf` of the
# previous one.
tsk_into() { mkdir "$1"; run_timed "$work/tsk.txt" "${tsk_cmd[@]}" "$1"; } # FOLDER
save_into() { mkdir "$1"; run_timed /dev/null "$qsalvage" save "$vhdx" --volume 0 --output "$1"; } # FOLDER

# start_saving TSK_OPTION [NOTE] : sets tsk_cmd, tsk_recover TSK_OPTION on
# the raw disk, and runs the warm-up of it and of qsalvage save, into tsk-0
# and qs-0 under $outputs, which stay there for the checks. What the
# function NOTE prints, if given, ends the log line of qsalvage's warm-up.
start_saving() {
    tsk_cmd=(tsk_recover "$1" -o "$PART_START" "$raw")
    stage "save: tsk_recover $1 on disk.raw vs qsalvage save on disk.vhdx, best of $RUNS, into $outputs"
    mkdir -p "$outputs"
    tsk_into "$outputs/tsk-0"
    log "   warm-up tsk_recover  ${run_seconds}s  ($(tail -n 1 "$work/tsk.txt"))"
    save_into "$outputs/qs-0"
    if [[ -n ${2:-} ]]; then
        log_qs_warm_up "$("$2")"
    else
        log_qs_warm_up
    fi
}

# time_saving : the timed rounds of the save job, then all the outputs go;
# sets t_tsk and t_save.
time_saving() {
    t_tsk=() t_save=()
    alternate time_tsk time_save
    spread 11 tsk_recover "${t_tsk[@]}"
    spread 11 qsalvage "${t_save[@]}"
    rm -rf -- "$outputs"
}
time_tsk() { tsk_into "$outputs/tsk-$r"; t_tsk+=("$run_seconds"); detail "$r" tsk_recover; }
time_save() { save_into "$outputs/qs-$r"; t_save+=("$run_seconds"); detail "$r" qsalvage; }

# -------------------------------------------------------------- summary ----

# verdict_ratio A B TARGET : prints A / B to two places and PASS or FAIL.
# Judged on the printed values, so "0.50" never reads FAIL.
verdict_ratio() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { r = sprintf("%.2f", (b > 0) ? a / b : 0) + 0; printf "%.2f %s\n", r, (r <= t) ? "PASS" : "FAIL" }'; }
max_rss_mib() { awk -v k="$(max_of "$@")" 'BEGIN { printf "%.1f", k / 1024 }'; } # RSS_KIB...

# print_list_summary : the summary's lines on the list job, under the
# caller's headline (fls_files and qs_files as the warm-ups counted them);
# sets verdicts to the list's.
print_list_summary() {
    local ratio verdict
    read -r ratio verdict < <(verdict_ratio "$(min_of "${t_list[@]}")" "$(min_of "${t_fls[@]}")" "$LIST_RATIO_TARGET")
    verdicts=("$verdict")
    printf 'qsalvage reads disk.vhdx; fls and tsk_recover read the raw disk qemu-img made from it, with no container to read\n'
    printf 'list: qsalvage %.3f s, fls %.3f s, ratio %s (target <= %s) %s\n' \
        "$(min_of "${t_list[@]}")" "$(min_of "${t_fls[@]}")" "$ratio" "$LIST_RATIO_TARGET" "$verdict"
    printf 'list: qsalvage max RSS %s MiB\n' "$(max_rss_mib "${rss_list[@]}")"
    printf 'list: files listed: qsalvage %d, fls %d, created %d\n' "$qs_files" "$fls_files" "$made_files"
}

# print_save_timing : the summary's line on the save job's times. Sets
# save_check, PASS when qsalvage saved every file tsk_recover did, with the
# same bytes (saved_bad, tsk_saved and qs_saved are the caller's comparison
# of the warm-up outputs), and adds both verdicts to verdicts.
print_save_timing() {
    local ratio verdict
    read -r ratio verdict < <(verdict_ratio "$(min_of "${t_save[@]}")" "$(min_of "${t_tsk[@]}")" "$SAVE_RATIO_TARGET")
    # tsk_recover leaves out empty files, so qsalvage may have saved more.
    save_check=$( (( saved_bad == 0 && qs_saved >= tsk_saved )) && echo PASS || echo FAIL)
    verdicts+=("$verdict" "$save_check")
    printf 'save: qsalvage %.3f s, tsk_recover %.3f s, ratio %s (target <= %s) %s\n' \
        "$(min_of "${t_save[@]}")" "$(min_of "${t_tsk[@]}")" "$ratio" "$SAVE_RATIO_TARGET" "$verdict"
}

# exit_by_verdicts VERDICT... : ends the script, with status 3 when one of
# them is not PASS and BENCH_STRICT=1, else 0.
exit_by_verdicts() {
    local v missed=0
    for v in "$@"; do
        [[ $v == PASS ]] || missed=1
    done
    if (( missed )) && [[ ${BENCH_STRICT:-0} == 1 ]]; then
        exit 3
    fi
    exit 0
}
