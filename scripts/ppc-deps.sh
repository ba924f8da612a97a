#!/usr/bin/env bash
# Prepares everything needed to cross-build and test for the PowerPC target:
#   - Debian's powerpc-linux-gnu cross toolchain and qemu-user (apt),
#   - libxml2, OpenSSL (libcrypto), zlib and libarchive cross-built from
#     Debian's own source packages and installed into $CLONE_PPC_CACHE/sysroot.
# The libraries are only rebuilt when the source version (or the build recipe
# below) changes, so a warm run is just the apt check.
#
# Usage (as root): scripts/ppc-deps.sh
#   CLONE_PPC_CACHE  cache root (default /var/cache/clonecreator-ppc)
#   CLONE_PPC_FORCE=1  rebuild the libraries even if the stamps match
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
shopt -s inherit_errexit

export DEBIAN_FRONTEND=noninteractive
export LC_ALL=C

CLONE_PPC_CACHE=${CLONE_PPC_CACHE:-/var/cache/clonecreator-ppc}
SYSROOT=$CLONE_PPC_CACHE/sysroot
WORK=$CLONE_PPC_CACHE/work
STAMPS=$SYSROOT/.stamps
TRIPLET=powerpc-linux-gnu
JOBS=$(nproc)

# Bump when the configure/install recipe changes, to invalidate the stamps.
RECIPE_REV=1

APT_PACKAGES=(
  g++-powerpc-linux-gnu gcc-powerpc-linux-gnu binutils-powerpc-linux-gnu
  qemu-user
  dpkg-dev build-essential make perl pkg-config cmake xz-utils
  autoconf automake libtool
  googletest
)
DEBSRC_FILE=/etc/apt/sources.list.d/clonecreator-deb-src.sources

T_START=$(date +%s.%N)
log() { printf '[ppc-deps] %s\n' "$*"; }
die() { printf '[ppc-deps] ERROR: %s\n' "$*" >&2; exit 1; }

# step NAME CMD...: runs CMD and prints how long it took.
step() {
  local name=$1; shift
  local t0 t1
  t0=$(date +%s.%N)
  log "==> $name"
  "$@"
  t1=$(date +%s.%N)
  log "<== $name: $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f s", b-a}')"
}

[[ $(id -u) -eq 0 ]] || die "must run as root (apt-get install, writes to $CLONE_PPC_CACHE)"

# --------------------------------------------------------------------------
# apt
# --------------------------------------------------------------------------
APT_UPDATED=0
apt_update_once() {
  if [[ $APT_UPDATED -eq 0 ]]; then
    apt-get update -qq
    APT_UPDATED=1
  fi
}

missing_packages() {
  local p
  for p in "${APT_PACKAGES[@]}"; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" == "install ok installed" ]] \
      || printf '%s\n' "$p"
  done
}

apt_install() {
  local missing
  missing=$(missing_packages)
  if [[ -z $missing ]]; then
    log "all apt packages present"
    return
  fi
  log "installing: ${missing//$'\n'/ }"
  apt_update_once
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing >"$CLONE_PPC_CACHE/apt-install.log" 2>&1 \
    || { tail -n 50 "$CLONE_PPC_CACHE/apt-install.log"; die "apt-get install failed"; }
}

# True if apt already knows a source package (deb-src configured and indexed).
# (No "grep -q" in pipes: with pipefail the writer's SIGPIPE fails the test.)
have_source_index() {
  local out
  out=$(apt-cache showsrc --only-source "$1" 2>/dev/null || true)
  [[ $out == *$'\nVersion: '* || $out == 'Version: '* ]]
}

have_debsrc_entry() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] && grep -Eq '^[[:space:]]*deb-src[[:space:]]' "$f" && return 0
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] && grep -Eiq '^Types:.*deb-src' "$f" && return 0
  done
  return 1
}

# Writes deb-src stanzas mirroring the bookworm "deb" entries already
# configured (same URIs, suites, components, keys), so we fetch sources from
# the same archive/snapshot as the binaries.
write_debsrc_file() {
  local tmp
  tmp=$(mktemp)
  {
    echo "# Added by scripts/ppc-deps.sh: Debian sources for cross-building deps."
    # deb822 files: copy each enabled bookworm stanza with Types: deb-src.
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
      [[ -f $f && $f != "$DEBSRC_FILE" ]] || continue
      awk '
        function flush() {
          if (n > 0 && isdeb && enabled && suites != "") {
            printf "\n"
            for (i = 1; i <= n; i++) {
              if (lines[i] ~ /^Types:/)       print "Types: deb-src"
              else if (lines[i] ~ /^Suites:/) print "Suites:" suites
              else                            print lines[i]
            }
          }
          n = 0; isdeb = 0; enabled = 1; suites = ""
        }
        BEGIN { n = 0; isdeb = 0; enabled = 1; suites = "" }
        /^[[:space:]]*$/ { flush(); next }
        /^#/ { next }
        {
          lines[++n] = $0
          if ($1 ~ /^Types:/) { for (i = 2; i <= NF; i++) if ($i == "deb") isdeb = 1 }
          if ($1 ~ /^Enabled:/ && tolower($2) == "no") enabled = 0
          if ($1 ~ /^Suites:/) {
            for (i = 2; i <= NF; i++)
              if ($i ~ /^bookworm(-updates|-security)?$/) suites = suites " " $i
          }
        }
        END { flush() }
      ' "$f"
    done
    # One-line format: turn matching "deb" lines into deb822 stanzas.
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -f $f ]] || continue
      awk '
        $1 == "deb" {
          opts = ""; i = 2
          if ($2 ~ /^\[/) {
            while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } ; i++ }
          }
          uri = $i; suite = $(i + 1); comps = ""
          for (j = i + 2; j <= NF; j++) comps = comps " " $j
          if (suite !~ /^bookworm(-updates|-security)?$/) next
          printf "\nTypes: deb-src\nURIs: %s\nSuites: %s\nComponents:%s\n", uri, suite, comps
          if (match(opts, /signed-by=[^] ]+/))
            printf "Signed-By: %s\n", substr(opts, RSTART + 10, RLENGTH - 10)
        }
      ' "$f"
    done
  } >"$tmp"
  if ! grep -q '^Types: deb-src' "$tmp"; then
    log "no bookworm entries found to mirror; using deb.debian.org"
    cat >>"$tmp" <<'EOF'

Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  install -m 0644 "$tmp" "$DEBSRC_FILE"
  rm -f "$tmp"
  log "wrote $DEBSRC_FILE"
}

ensure_source_index() {
  if have_source_index libxml2 && have_source_index openssl && have_source_index zlib \
     && have_source_index libarchive; then
    return
  fi
  if ! have_debsrc_entry; then
    write_debsrc_file
  fi
  APT_UPDATED=0
  apt_update_once
  if ! have_source_index libxml2 || ! have_source_index openssl || ! have_source_index zlib \
     || ! have_source_index libarchive; then
    die "apt still knows no source for libxml2/openssl/zlib/libarchive after adding deb-src"
  fi
}

# All source versions apt knows for PKG, newest first.
source_versions() {
  local v sorted=() i j
  for v in $(apt-cache showsrc --only-source "$1" | awk '/^Version:/ {print $2}'); do
    sorted+=("$v")
  done
  # Tiny insertion sort: Debian version order ("~") is not sort -V order.
  for ((i = 1; i < ${#sorted[@]}; i++)); do
    v=${sorted[i]}; j=$((i - 1))
    while ((j >= 0)) && dpkg --compare-versions "${sorted[j]}" lt "$v"; do
      sorted[j + 1]=${sorted[j]}; j=$((j - 1))
    done
    sorted[j + 1]=$v
  done
  printf '%s\n' "${sorted[@]}"
}

# True if the .dsc of PKG=VERSION can actually be downloaded. The mirror we
# get may list a version (typically in bookworm-security) whose source files
# it does not serve; probing the small .dsc avoids pulling the tarball first.
source_fetchable() { # PKG VERSION
  local line url hash tmp rc=0
  line=$(apt-get source --print-uris -qq --only-source "$1=$2" 2>/dev/null \
         | awk '!f && $2 ~ /\.dsc$/ { print; f = 1 }')
  [[ -n $line ]] || return 1
  url=$(awk '{ gsub(/\047/, "", $1); print $1 }' <<<"$line")
  hash=$(awk '{ print $4 }' <<<"$line")
  tmp=$(mktemp -d)
  chown _apt "$tmp" 2>/dev/null || true
  /usr/lib/apt/apt-helper download-file "$url" "$tmp/probe.dsc" ${hash:+"$hash"} \
    >/dev/null 2>&1 || rc=1
  rm -rf "$tmp"
  return $rc
}

# --------------------------------------------------------------------------
# cross builds
# --------------------------------------------------------------------------
stamp_value() { # PKG VERSION
  printf 'pkg=%s version=%s recipe=%s gcc=%s\n' "$1" "$2" "$RECIPE_REV" \
    "$("$TRIPLET-gcc" -dumpfullversion 2>/dev/null || echo none)"
}

stamp_ok() { # PKG VERSION
  [[ ${CLONE_PPC_FORCE:-0} != 1 ]] || return 1
  [[ -f $STAMPS/$1 ]] || return 1
  [[ "$(cat "$STAMPS/$1")" == "$(stamp_value "$1" "$2")" ]]
}

write_stamp() { # PKG VERSION
  mkdir -p "$STAMPS"
  stamp_value "$1" "$2" >"$STAMPS/$1"
}

# Downloads and unpacks (with Debian patches applied) PKG=VERSION into
# $WORK/PKG and prints the source directory.
fetch_source() { # PKG VERSION
  local pkg=$1 ver=$2 dir
  rm -rf "${WORK:?}/$pkg"
  mkdir -p "$WORK/$pkg"
  # _apt must be able to write the download dir, otherwise apt warns and
  # falls back to an unsandboxed download.
  chown _apt "$WORK/$pkg" 2>/dev/null || true
  (cd "$WORK/$pkg" && apt-get source -qq --only-source "$pkg=$ver" >/dev/null)
  dir=$(find "$WORK/$pkg" -mindepth 1 -maxdepth 1 -type d -name "$pkg-*" | head -n1)
  [[ -n $dir ]] || die "apt-get source $pkg=$ver produced no source tree"
  printf '%s\n' "$dir"
}

# Plain cross environment for autotools/Configure.
cross_env() {
  export CC=$TRIPLET-gcc CXX=$TRIPLET-g++ AR=$TRIPLET-ar RANLIB=$TRIPLET-ranlib \
         STRIP=$TRIPLET-strip NM=$TRIPLET-nm
  # Never let host .pc files leak into the cross build.
  export PKG_CONFIG_LIBDIR=$SYSROOT/lib/pkgconfig PKG_CONFIG_PATH='' PKG_CONFIG_SYSROOT_DIR=''
}

build_libxml2() { # VERSION
  local src
  src=$(fetch_source libxml2 "$1")
  (
    cd "$src"
    cross_env
    # Debian's patches touch Makefile.am, so regenerate like dh_autoreconf.
    autoreconf -fi >autoreconf.log 2>&1 \
      || { tail -n 50 autoreconf.log; die "libxml2 autoreconf failed"; }
    # Only what the project uses (parser, tree, xmlwriter, xmlsave) needs to
    # work; drop optional dependencies so the sysroot needs nothing else.
    ./configure --host=$TRIPLET --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
      --prefix="$SYSROOT" --libdir="$SYSROOT/lib" \
      --enable-shared --enable-static \
      --without-python --without-icu --without-lzma --without-zlib \
      --without-readline --without-history --without-http --without-ftp \
      --without-debug --without-coverage \
      CFLAGS="-O2 -g" >configure.log 2>&1 \
      || { tail -n 50 configure.log; die "libxml2 configure failed"; }
    # The test programs (testapi etc.) are large and useless here: skip them.
    make -j"$JOBS" noinst_PROGRAMS= >build.log 2>&1 \
      || { tail -n 50 build.log; die "libxml2 build failed"; }
    make install noinst_PROGRAMS= >install.log 2>&1 \
      || { tail -n 50 install.log; die "libxml2 install failed"; }
  )
  # Docs are not needed; the .la file only drags libtool paths into links.
  rm -rf "$SYSROOT/share/doc" "$SYSROOT/share/gtk-doc" "$SYSROOT/share/man" \
         "$SYSROOT/lib/libxml2.la"
}

build_openssl() { # VERSION
  local src
  src=$(fetch_source openssl "$1")
  (
    cd "$src"
    cross_env
    unset CC CXX AR RANLIB NM STRIP # Configure adds --cross-compile-prefix itself
    # no-asm: portable C only, avoids assembler/CPU-feature surprises on
    # the target core. We only use libcrypto (PBKDF2, Ed25519, PEM, SHA).
    ./Configure linux-ppc --cross-compile-prefix=$TRIPLET- \
      --prefix="$SYSROOT" --libdir=lib --openssldir="$SYSROOT/ssl" \
      shared no-asm no-tests no-legacy no-engine no-dso no-comp no-ssl3 \
      -O2 -g >configure.log 2>&1 \
      || { tail -n 50 configure.log; die "openssl Configure failed"; }
    make -j"$JOBS" build_libs >build.log 2>&1 \
      || { tail -n 50 build.log; die "openssl build failed"; }
    make install_dev >install.log 2>&1 \
      || { tail -n 50 install.log; die "openssl install failed"; }
  )
}

build_zlib() { # VERSION
  local src
  src=$(fetch_source zlib "$1")
  (
    cd "$src"
    cross_env
    CHOST=$TRIPLET CFLAGS="-O2 -g" ./configure --prefix="$SYSROOT" --libdir="$SYSROOT/lib" \
      >configure.log 2>&1 || { tail -n 50 configure.log; die "zlib configure failed"; }
    make -j"$JOBS" libz.a >build.log 2>&1 \
      || { tail -n 50 build.log; die "zlib build failed"; }
    make install >install.log 2>&1 \
      || { tail -n 50 install.log; die "zlib install failed"; }
  )
  rm -rf "$SYSROOT/share/man"
}

# clonefile reads gzip-compressed tar archives only: zlib, no other codec, no
# crypto, no ACL/xattr support and none of the command-line tools.
build_libarchive() { # VERSION
  local src
  src=$(fetch_source libarchive "$1")
  (
    cd "$src"
    cross_env
    autoreconf -fi >autoreconf.log 2>&1 \
      || { tail -n 50 autoreconf.log; die "libarchive autoreconf failed"; }
    ./configure --host=$TRIPLET --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
      --prefix="$SYSROOT" --libdir="$SYSROOT/lib" \
      --enable-shared --enable-static \
      --disable-bsdtar --disable-bsdcat --disable-bsdcpio --disable-bsdunzip \
      --disable-acl --disable-xattr \
      --with-zlib --without-bz2lib --without-libb2 --without-iconv --without-lz4 \
      --without-zstd --without-lzma --without-lzo2 --without-cng --without-mbedtls \
      --without-nettle --without-openssl --without-xml2 --without-expat \
      CPPFLAGS="-I$SYSROOT/include" LDFLAGS="-L$SYSROOT/lib" CFLAGS="-O2 -g" \
      >configure.log 2>&1 \
      || { tail -n 50 configure.log; die "libarchive configure failed"; }
    make -j"$JOBS" libarchive.la >build.log 2>&1 \
      || { tail -n 50 build.log; die "libarchive build failed"; }
    make install-libLTLIBRARIES install-includeHEADERS install-pkgconfigDATA >install.log 2>&1 \
      || { tail -n 50 install.log; die "libarchive install failed"; }
  )
  rm -f "$SYSROOT/lib/libarchive.la"
}

# Builds the newest downloadable source version of PKG unless the stamp says
# that version is already in the sysroot.
build_if_needed() { # PKG
  local pkg=$1 ver=""
  local v
  for v in $(source_versions "$pkg"); do
    if stamp_ok "$pkg" "$v"; then
      log "$pkg $v: up to date in $SYSROOT"
      return
    fi
    if source_fetchable "$pkg" "$v"; then
      ver=$v
      break
    fi
    log "$pkg $v: source not downloadable from the mirror, trying an older one"
  done
  [[ -n $ver ]] || die "no downloadable source version of $pkg"
  log "$pkg $ver: building for $TRIPLET"
  rm -f "$STAMPS/$pkg"
  step "build $pkg $ver" "build_$pkg" "$ver"
  write_stamp "$pkg" "$ver"
  rm -rf "${WORK:?}/$pkg"
}

# --------------------------------------------------------------------------
main() {
  mkdir -p "$SYSROOT" "$WORK"
  # Two CI jobs on one machine must not build into the same sysroot at once.
  exec 9>"$CLONE_PPC_CACHE/.lock"
  flock 9
  step "apt packages" apt_install
  step "deb-src index" ensure_source_index
  build_if_needed libxml2
  build_if_needed openssl
  build_if_needed zlib
  build_if_needed libarchive
  [[ -e $SYSROOT/lib/libxml2.so && -e $SYSROOT/lib/libcrypto.so && -e $SYSROOT/lib/libarchive.so ]] \
    || die "sysroot is incomplete: $SYSROOT"
  log "sysroot ready: $SYSROOT"
  log "total: $(awk -v a="$T_START" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f s", b-a}')"
}

main "$@"
