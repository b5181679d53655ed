#!/usr/bin/env bash
# Runs PROGRAM with the remaining arguments; for --help, puts the usage
# forms as help2man reads them into a synopsis: "Usage: FORM", then
# "  or:  FORM", each form's continuation lines joined to it. Help that
# does not open with a "Usage:" line of its own is passed on unchanged.
#   usage: help-for-man.sh PROGRAM ARGUMENT...
set -euo pipefail
program=${1:?usage: help-for-man.sh PROGRAM ARGUMENT...}
shift
if [ "${1:-}" != --help ]; then
    exec "$program" "$@"
fi
"$program" --help | awk '
    NR == 1 && $0 == "Usage:" { forms = 1; next }
    forms && /^$/ { flush(); forms = 0; print; next }
    forms && /^  [^ ]/ { flush(); sub(/^ +/, ""); form = $0; next }
    forms && /^   / { sub(/^ +/, ""); form = form " " $0; next }
    { flush(); forms = 0; print }
    function flush() {
        if (form == "") return
        print (count++ ? "  or:  " : "Usage: ") form
        form = ""
    }
    END { flush() }
'
