#!/bin/bash
# The desktop entry and the AppStream metadata: both validate, share one id, and the entry has
# the name, translations, command and categories a desktop shows.
#   check_desktop_files.sh DESKTOP_FILE METAINFO_FILE
set -u
desktop=$1 metainfo=$2
fail=0
bad() { echo "FAIL: $*"; fail=1; }

desktop-file-validate "$desktop" || bad "desktop-file-validate rejects $desktop"
appstreamcli validate --no-net "$metainfo" || bad "appstreamcli rejects $metainfo"

id=$(basename "$desktop" .desktop)
[[ $(basename "$metainfo") == "$id.metainfo.xml" ]] || bad "metadata file is not named $id.metainfo.xml"
grep -q "<id>$id</id>" "$metainfo" || bad "metadata id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
  || bad "metadata does not launch $id.desktop"
grep -qx "Icon=$id" "$desktop" || bad "desktop entry's icon is not $id"

key() { sed -n "s/^$1=//p" "$desktop"; }
[[ $(key Name) == "Trelvix to iPhone" ]] || bad "Name is '$(key Name)'"
[[ -n $(key 'Name\[pl\]') && -n $(key 'Comment\[pl\]') ]] || bad "no Polish name or comment"
[[ $(key Exec) == "trelvix-iphone %f" ]] || bad "Exec does not hand one file to trelvix-iphone"
[[ $(key Categories) == "AudioVideo;Video;AudioVideoEditing;" ]] || bad "Categories: $(key Categories)"

exit $fail
