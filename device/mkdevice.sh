#!/bin/sh
# Lays out a simulated device root: the device's fixed directories, sample data, the simulated
# device tools and the cloning plug-ins.
#   mkdevice.sh [--plugins DIR] [--bare] [--profile SCALE] [--clonefile PATH] ROOT
#   --plugins DIR     install DIR/*.so as the device's cloning plug-ins
#   --bare            directories, attributes and tools only, without the sample data
#   --profile SCALE   a bare device with a large profile of the given size (see profile.sh;
#                     1 is about 500 subgroups, 20,000 attribute lines and 50 MB to stage)
#   --clonefile PATH  with the clonefile command at PATH, give the device a signing key (public
#                     half in ROOT/config/clone_signing_key.pub.pem) and the demo clone
#                     password "clone-demo"
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu

here=$(cd "$(dirname "$0")" && pwd)
plugins=""
bare=0
clonefile=""
profile=""
while [ $# -gt 1 ]; do
    case "$1" in
        --plugins) plugins=$2; shift 2 ;;
        --bare) bare=1; shift ;;
        --profile) profile=$2; bare=1; shift 2 ;;
        --clonefile) clonefile=$2; shift 2 ;;
        *) echo "usage: mkdevice.sh [--plugins DIR] [--bare] [--profile SCALE] [--clonefile PATH] ROOT" >&2; exit 2 ;;
    esac
done
[ $# -eq 1 ] || { echo "usage: mkdevice.sh [--plugins DIR] [--bare] [--profile SCALE] [--clonefile PATH] ROOT" >&2; exit 2; }
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

# sample_cert FILE SUBJECT [own]: a self-signed certificate made anew for this device; with "own"
# its key goes to ssl/private/ under the certificate's subject hash, which makes it one of the
# device's own certificates. Other keys are thrown away.
sample_cert() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 -subj "$2" \
        -keyout "$keys/key.pem" -out "$1" 2>"$keys/err" || { cat "$keys/err" >&2; exit 1; }
    if [ "${3:-}" = own ]; then
        mv "$keys/key.pem" "$ssl/private/$(openssl x509 -hash -noout -in "$1")"
    fi
}

# Certificates of the sample device: trust anchors and the device's TLS certificate in ssl/trusted,
# a domain CA and the device's domain certificate in ssl/domain, the certificate store's links to
# them by friendly name (targets are device paths), a wireless client certificate and two address
# book contacts' S/MIME certificates.
sample_certificates() {
    ssl=$root/xpaths/nc_var_etc/ssl
    keys=$root/.sample-keys
    mkdir -p "$keys"
    sample_cert "$ssl/trusted/demoRootCA.pem" "/O=Example Print Co/CN=Demo Root CA"
    sample_cert "$ssl/trusted/partnerCA.pem" "/O=Partner Services/CN=Partner CA"
    sample_cert "$ssl/trusted/stunnel.pem" "/O=Example Print Co/CN=SIM0123456789.printers.example" own
    sample_cert "$ssl/domain/domainCA.pem" "/DC=example/DC=corp/CN=Corp Domain CA"
    sample_cert "$ssl/domain/deviceDomain.pem" "/DC=example/DC=corp/CN=SIM0123456789" own
    sample_cert "$root/xpaths/nc_dlms_data/http/data/wirelessClient.pem" "/O=Example Print Co/CN=printer-wifi"
    sample_cert "$root/xpaths/temp/certs/encryptionfiles/alice.pem" "/CN=Alice Example/emailAddress=alice@example.com"
    sample_cert "$root/xpaths/temp/certs/encryptionfiles/bob.pem" "/CN=Bob Example/emailAddress=bob@example.com"
    rm -rf "$keys"
    ln -s /xpaths/nc_var_etc/ssl/trusted/demoRootCA.pem "$ssl/certstore/Demo Root CA"
    ln -s /xpaths/nc_var_etc/ssl/trusted/partnerCA.pem "$ssl/certstore/Partner CA"
    ln -s /xpaths/nc_var_etc/ssl/trusted/stunnel.pem "$ssl/certstore/Device TLS"
    ln -s /xpaths/nc_var_etc/ssl/domain/domainCA.pem "$ssl/certstore/Corp Domain CA"
    ln -s /xpaths/nc_var_etc/ssl/domain/deviceDomain.pem "$ssl/certstore/Device Domain"
}

if [ "$bare" -eq 0 ]; then
    cp -R "$here/sample/." "$root/"
    sample_certificates
else
    cp "$here/sample/config/attributes" "$root/config/attributes"
fi

if [ -n "$profile" ]; then
    "$here/profile.sh" "$root" "$profile"
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
