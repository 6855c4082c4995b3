#!/usr/bin/env bash
# Makes a smaller libicudata for the bundle: ICU's data library holds 30 MB of locale data
# (names of languages, countries, currencies and units, number spelling, transliteration,
# break rules, legacy converters) for ICU's formatting functions, which Qt never calls. Qt
# Core reaches ICU only for collation (QCollator: Qt's file dialog sorts with it), time zones
# (QTimeZone), case mapping (built into libicuuc) and named text converters; so the copy keeps
# the collation data of every locale, the time zone rules and the converter alias table, and
# leaves the rest out, also the time zones' names, which the window never shows. ICU's own tools
# (icu-devtools) cut the data and turn it back into a library with the same soname.
# Usage: small-icu-data.sh LIBICUDATA OUTPUT
set -euo pipefail
library=$(readlink -f "$1")
output=$2
for tool in icupkg genccode objcopy nm cc; do
  command -v "$tool" >/dev/null || { echo "small-icu-data.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
soname=$(objdump -p "$library" | awk '$1 == "SONAME" { print $2 }')
# The data is one symbol, icudtNN_dat, holding a whole ICU package.
read -r address size symbol < <(nm -D --defined-only -S "$library" | awk '$4 ~ /^icudt[0-9]+_dat$/ { print $1, $2, $4 }')
[ -n "${symbol:-}" ] || { echo "small-icu-data.sh: no icudtNN_dat in $library" >&2; exit 1; }
package=${symbol%_dat}l  # little-endian ASCII, as the item names inside say

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
objcopy -O binary --only-section=.rodata "$library" "$work/rodata"
section=$(readelf -SW "$library" | awk '$2 == ".rodata" { print $4 }')
tail -c +$((0x$address - 0x$section + 1)) "$work/rodata" | head -c $((0x$size)) > "$work/$package.dat"

icupkg -l "$work/$package.dat" > "$work/items"
kept='^(coll/.*|root\.res|res_index\.res|pool\.res'
kept+='|icuver\.res|icustd\.res|metadata\.res|supplementalData\.res|likelySubtags\.res|keyTypeData\.res'
kept+='|zoneinfo64\.res|metaZones\.res|timezoneTypes\.res|windowsZones\.res|cnvalias\.icu)$'
grep -Ev "$kept" "$work/items" > "$work/left-out.txt" || true
grep -q '^coll/root\.res$' "$work/items" || { echo "small-icu-data.sh: $library holds no collation data" >&2; exit 1; }
mkdir "$work/small"
# icupkg reads a list only from a .txt file, and refuses to drop an item a kept one needs.
(cd "$work" && icupkg -r left-out.txt "$package.dat" "small/$package.dat")
genccode -q -a gcc -e "${symbol%_dat}" -d "$work/small" "$work/small/$package.dat"
cc -shared -nostdlib -Wl,-soname,"$soname" -Wl,-z,noexecstack -o "$work/$soname" "$work/small/${package}_dat.S"
strip --strip-unneeded -o "$output" "$work/$soname"
