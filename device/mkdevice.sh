#!/bin/sh
# Lays out a simulated device root: the device's fixed directories, sample data, the simulated
# device tools and the cloning plug-ins.
#   mkdevice.sh [--plugins DIR] [--bare] [--clonefile PATH] ROOT
#   --plugins DIR     install DIR/*.so as the device's cloning plug-ins
#   --bare            directories, attributes and tools only, without the sample data
#   --clonefile PATH  with the clonefile command at PATH, give the device a signing key (public
#                     half in ROOT/config/clone_signing_key.pub.pem) and the demo clone
#                     password "clone-demo"
set -eu

here=$(cd "$(dirname "$0")" && pwd)
plugins=""
bare=0
clonefile=""
while [ $# -gt 1 ]; do
    case "$1" in
        --plugins) plugins=$2; shift 2 ;;
        --bare) bare=1; shift ;;
        --clonefile) clonefile=$2; shift 2 ;;
        *) echo "usage: mkdevice.sh [--plugins DIR] [--bare] [--clonefile PATH] ROOT" >&2; exit 2 ;;
    esac
done
[ $# -eq 1 ] || { echo "usage: mkdevice.sh [--plugins DIR] [--bare] [--clonefile PATH] ROOT" >&2; exit 2; }
root=$1
case "$root" in
    /) echo "mkdevice.sh: refusing to lay out a device over /" >&2; exit 2 ;;
esac

# Fixed directories of the device.
for d in \
    config var/log \
    xpaths/tmp_cloningData \
    xpaths/nc_dlms/clone/apps xpaths/nc_dlms/upgrade/apps xpaths/nc_dlms/http/apps \
    xpaths/nc_dlms_data/clone/data xpaths/nc_dlms_data/http/data \
    xpaths/nc_bin xpaths/nc_nvram xpaths/ipsec xpaths/customer_logo \
    xpaths/nc_var_etc/ssl/certstore xpaths/nc_var_etc/ssl/private \
    xpaths/nc_var_etc/ssl/trusted xpaths/nc_var_etc/ssl/domain \
    xpaths/temp/certs/encryptionfiles xpaths/temp/template/pool \
    usr/ui/pum/nvm/defaults/Default \
    usr/lib/plugins/cloning \
    bin
do
    mkdir -p "$root/$d"
done

# Simulated tools at their device paths; "path-in-root tool-file" per line.
while read -r dest tool; do
    [ -n "$dest" ] || continue
    case "$dest" in \#*) continue ;; esac
    if [ -f "$here/tools/$tool" ]; then
        cp "$here/tools/$tool" "$root/$dest"
        chmod 0755 "$root/$dest"
    fi
done < "$here/tools/installed-at"

if [ "$bare" -eq 0 ]; then
    cp -R "$here/sample/." "$root/"
else
    cp "$here/sample/config/attributes" "$root/config/attributes"
fi

if [ -n "$plugins" ]; then
    for lib in "$plugins"/*.so; do
        [ -e "$lib" ] || continue
        cp "$lib" "$root/usr/lib/plugins/cloning/"
    done
fi

if [ -n "$clonefile" ]; then
    "$clonefile" keygen --root "$root" --force "$root/config/clone_signing_key.pub.pem"
    printf '%s\n' clone-demo | "$clonefile" set-password --root "$root"
fi
