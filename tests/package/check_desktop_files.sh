#!/bin/bash
# The desktop entry and the AppStream metadata: both validate, share one id, and the entry's
# MimeType list covers every file pattern of the window's open dialog that the system's MIME
# database knows.
#   check_desktop_files.sh DESKTOP_FILE METAINFO_FILE EXTENSIONS
# EXTENSIONS: the open dialog's video and audio extensions, separated by semicolons.
set -u
desktop=$1 metainfo=$2 extensions=$3
globs=${TRELVIX_MIME_GLOBS:-/usr/share/mime/globs2}
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

# Each extension's types in the MIME database (text types aside: .ts is also a translation file).
[[ -r $globs ]] || { echo "FAIL: no MIME database at $globs (shared-mime-info)"; exit 1; }
mimetypes=";$(key MimeType)"
known=0
IFS=';' read -ra exts <<<"$extensions"
for ext in "${exts[@]}"; do
  [[ -n $ext ]] || continue
  lower=${ext,,}
  while IFS=: read -r _ type _; do
    [[ $type == text/* ]] && continue
    known=$((known + 1))
    [[ $mimetypes == *";$type;"* ]] || bad "*.$lower is $type, which MimeType lacks"
  done < <(grep -i ":\*\.$lower\(:.*\)\?$" "$globs")
done
# A database that knows none of the extensions would let every check above pass unseen.
((known >= 20)) || bad "the MIME database knows only $known of the dialog's extensions"
exit $fail
