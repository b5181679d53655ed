#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those missing.
#   install-deps.sh build   compiler and build tools, help2man for the man page
#   install-deps.sh test    the above, GoogleTest/GoogleMock, Qt 6 Widgets for the
#                           wizard and its page tests, the tools tests call, and
#                           what making and checking the .deb needs
#   install-deps.sh fuzz    the above and clang with its fuzzer runtime
set -euo pipefail
what=${1:-test}
packages=(cmake ninja-build g++ xz-utils zlib1g-dev libcli11-dev libssl-dev nlohmann-json3-dev help2man)
case "$what" in
build) ;;
test) packages+=(libgtest-dev libgmock-dev qemu-utils e2fsprogs qt6-base-dev
      ghostscript qpdf libjpeg-turbo-progs zip python3 bzip2 flac libxml2-utils
      dpkg-dev file man-db desktop-file-utils bash-completion sleuthkit) ;;
fuzz) packages+=(libgtest-dev libgmock-dev qemu-utils clang libclang-rt-14-dev) ;;
*) echo "install-deps.sh: unknown task $what" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
