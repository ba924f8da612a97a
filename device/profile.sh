#!/bin/sh
# Lays a device profile of a given size over a bare device root: group definition files, the
# stores the simulated tools answer from, and staged files. SCALE 1 is about 500 subgroups,
# 20,000 attribute lines across the NVRAM, configuration server and data store lists (with
# repeated names and "<profile/>" lines) and 2,000 files of 25 KiB (50 MB) to stage; 0.1 and 10
# scale all of them.
#   profile.sh ROOT SCALE      (called by mkdevice.sh --profile SCALE)
# The groups are PROFILE1_GROUP .. PROFILE5_GROUP; the line selecting all of them is written to
# ROOT/config/profile_groups.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
[ $# -eq 2 ] || { echo "usage: profile.sh ROOT SCALE" >&2; exit 2; }
root=$1
scale=$2
data=$root/xpaths/nc_dlms_data/clone/data
pool=$root/xpaths/temp/template/pool
mkdir -p "$data" "$pool/system" "$pool/web" "$pool/usb" "$pool/s2home" "$root/xpaths/nc_var_etc/ssl/trusted" "$root/config"

count() { awk -v n="$1" -v s="$scale" 'BEGIN { v = int(n * s + 0.5); print (v < 1 ? 1 : v) }'; }
subgroups=$(count 500)
lines=$(count 20000)
files=$(count 2000)

# Group and attribute files, and the three stores, in one pass. Subgroups take the NVRAM,
# configuration server and data store lists in turn; every tenth name repeats one of the
# subgroup before, every fifth configuration name is asked for both profiles.
awk -v subgroups="$subgroups" -v lines="$lines" \
    -v groups="$data/tmp_groups_parsed" -v attrib="$data/tmp_attrib_parsed" \
    -v nvram="$root/config/nvram" -v attrs="$root/config/attributes" -v ds="$root/config/datastore" '
BEGIN {
    split("NVRAM CONFIGSERVER DATASTORE", tag, " ")
    per = int(lines / subgroups); if (per < 1) per = 1
    for (g = 1; g <= 5; g++) {
        printf "PROFILE%d_GROUP\n", g > groups
        if (g == 1) {
            print "PROFILE_TEMPLATES\nPROFILE_S2HOME\nPROFILE_IPSEC" > groups
        }
        for (s = g; s <= subgroups; s += 5) printf "PROFILE_SUB_%d\n", s > groups
        print "" > groups
    }
    # The attribute store keeps what the device already has; the other stores hold the profile alone.
    printf "" > nvram
    printf "" > ds
    print "PROFILE_TEMPLATES\n<MISC>\n<TEMPLATES>\n</MISC>\n" > attrib
    print "PROFILE_S2HOME\n<MISC>\n<S2HOME_DEFAULT_TEMPLATE>\n</MISC>\n" > attrib
    print "PROFILE_IPSEC\n<MISC>\n<IP_SEC_CUSTOM>\n</MISC>\n" > attrib
    for (s = 1; s <= subgroups; s++) {
        t = tag[(s - 1) % 3 + 1]
        printf "PROFILE_SUB_%d\n<%s>\n", s, t > attrib
        for (i = 1; i <= per; i++) {
            k = (i % 10 == 0 && s > 3) ? s - 3 : s
            if (t == "NVRAM") {
                name = sprintf("PROFILE_TOKEN_%d:PROFILE_TAG_%d", k, i)
                print name > attrib
                if (k == s) printf "%s=value %d %d\n", name, k, i > nvram
            } else {
                name = sprintf("profile.s%d.a%d", k, i)
                if (t == "CONFIGSERVER" && i % 5 == 0) {
                    printf "%s[<profile/>].enabled\n", name > attrib
                    if (k == s) printf "%s[wired].enabled=TRUE\n%s[wireless].enabled=FALSE\n", name, name >> attrs
                } else {
                    print name > attrib
                    if (k == s && t == "CONFIGSERVER") printf "%s=value %d %d\n", name, k, i >> attrs
                    else if (k == s) printf "%s=value %d %d\n", name, k, i > ds
                }
            }
        }
        printf "</%s>\n\n", t > attrib
    }
}'
printf 'sysMgmt.features.scanToHome.enabled=TRUE\n' >> "$root/config/attributes"
awk 'BEGIN { for (g = 1; g <= 5; g++) printf "PROFILE%d_GROUP ", g; print "" }' > "$root/config/profile_groups"

# Files to stage, 25 KiB of random bytes each (an archive cannot squeeze them), a quarter each as
# system, web and USB templates of the template pool and as IPsec trust anchors; and one
# scan-to-home template.
printf '<scanTemplate name="Scan to Home"/>\n' > "$pool/s2home/home.xst"
quarter=$(( (files + 3) / 4 ))
for entry in "$pool/system xst" "$pool/web xst" "$pool/usb png" "$root/xpaths/nc_var_etc/ssl/trusted pem"; do
    dir=${entry% *}
    suffix=${entry#* }
    head -c $((quarter * 25600)) /dev/urandom | split -b 25600 -d -a 6 --additional-suffix=".$suffix" - "$dir/profile_"
done
