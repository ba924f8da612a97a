#!/bin/sh
# Installs the Debian packages the build and the tests need (as root; nothing when all are there).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
packages="cmake make g++ pkg-config libxml2-dev libssl-dev libarchive-dev zlib1g-dev openssl googletest tar gzip binutils strace python3 ${EXTRA_PACKAGES:-}"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages:$missing (run as root, or install them)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing >/dev/null
