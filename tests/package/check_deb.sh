#!/bin/bash
# Makes the Debian package from the build tree, unpacks it into a scratch root and checks it as
# an installed system would see it: the control fields and the declared run-time libraries, the
# files where the desktop entry, the metadata and the man pages say they are, and the packaged
# converter converting a clip with the system's libraries, away from the build tree.
#   check_deb.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR FIXTURES_TOOL WINDOW_BUILT(0|1)
set -u
src=$1 build=$2 scratch=$3 fixtures=$4 window=$5
fail=0
bad() { echo "FAIL: $*"; fail=1; }
rm -rf "$scratch" && mkdir -p "$scratch" || exit 1

deb=$("$src/scripts/package" --from-build "$build" --dist "$scratch/dist" --revision 7) ||
  { echo "FAIL: scripts/package failed"; exit 1; }
arch=$(dpkg --print-architecture)
[[ $deb == "$scratch/dist/trelvix-iphone_1.3-7_$arch.deb" && -f $deb ]] || bad "package written as '$deb'"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == trelvix-iphone ]] || bad "Package: $(field Package)"
[[ $(field Version) == 1.3-7 ]] || bad "Version: $(field Version)"
[[ $(field Architecture) == "$arch" ]] || bad "Architecture: $(field Architecture)"

# Every dependency names an installed package at a version that satisfies it (this machine runs
# the programs, so a misspelt or unsatisfiable dependency shows here).
depends=$(field Depends)
names=()
declare -A ops=([">="]=ge ["="]=eq ["<="]=le [">>"]=gt ["<<"]=lt)
IFS=',' read -ra deps <<<"$depends"
for dep in "${deps[@]}"; do
  dep=$(sed 's/^ *//; s/ *$//' <<<"$dep")
  name=${dep%% *}
  names+=("$name")
  installed=$(dpkg-query -W -f '${Version}' "$name" 2>/dev/null) || { bad "$name is no installed package"; continue; }
  if [[ $dep =~ \((\>=|=|\<=|\>\>|\<\<)\ ([^\)]+)\) ]]; then
    op=${BASH_REMATCH[1]} want=${BASH_REMATCH[2]}
    dpkg --compare-versions "$installed" "${ops[$op]}" "$want" || bad "$name $installed does not satisfy $dep"
  fi
done
required=(libavcodec59 libavformat59 libavfilter8 libavutil57 libswscale6 libswresample4
          libavdevice59 libsdl2-2.0-0 libcurl4 libuchardet0 fonts-liberation libqt6core6 libqt6gui6)
((window)) && required+=(libqt6widgets6 libqt6svg6 libqt6dbus6)
for name in "${required[@]}"; do
  printf '%s\n' "${names[@]}" | grep -qxF "$name" || bad "Depends lacks $name: $depends"
done

dpkg-deb -c "$deb" | awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' >/dev/null ||
  bad "files not owned by root"
root=$scratch/root
dpkg -x "$deb" "$root" && dpkg-deb -e "$deb" "$scratch/control" || { echo "FAIL: unpacking"; exit 1; }
(cd "$root" && md5sum --quiet -c "$scratch/control/md5sums") || bad "md5sums do not match"
(($(find "$root" -type f | wc -l) == $(wc -l <"$scratch/control/md5sums"))) || bad "md5sums do not list every file"
[[ $(ls "$root") == usr ]] || bad "files outside /usr: $(ls "$root")"
for f in copyright changelog.Debian.gz; do
  [[ -s $root/usr/share/doc/trelvix-iphone/$f ]] || bad "no /usr/share/doc/trelvix-iphone/$f"
done
if grep -rlF "$build" "$root" >/dev/null; then bad "files refer to the build tree: $(grep -rlF "$build" "$root")"; fi

programs=(trelvix-iphone-cli)
((window)) && programs+=(trelvix-iphone)
for p in "${programs[@]}"; do
  bin=$root/usr/bin/$p
  [[ -x $bin ]] || { bad "no /usr/bin/$p"; continue; }
  readelf -d "$bin" | grep -qE 'RPATH|RUNPATH' && bad "$p carries a library search path"
  readelf -d "$bin" | grep -qE 'NEEDED.*(libav|libsw|SDL)' && bad "$p links a media library"
  gzip -t "$root/usr/share/man/man1/$p.1.gz" 2>/dev/null || bad "no man page for $p"
  [[ $(env -u DISPLAY -u WAYLAND_DISPLAY "$bin" --version) == "Trelvix to iPhone 1.3" ]] || bad "$p --version fails"
done

if ((window)); then
  shopt -s nullglob
  entries=("$root"/usr/share/applications/*.desktop)
  ((${#entries[@]} == 1)) || bad "expected one desktop entry, found ${#entries[@]}"
  for entry in "${entries[@]}"; do
    id=$(basename "$entry" .desktop)
    desktop-file-validate "$entry" || bad "the installed desktop entry does not validate"
    exec_prog=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    [[ -x $root/usr/bin/$exec_prog ]] || bad "Exec names $exec_prog, not in /usr/bin"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [[ $icon == "$id" ]] || bad "Icon=$icon differs from the entry's id $id"
    hicolor=$root/usr/share/icons/hicolor
    [[ -s $hicolor/scalable/apps/$icon.svg ]] || bad "no scalable icon $icon.svg"
    for size in 16 32 48 64 128 256; do
      png=$hicolor/${size}x${size}/apps/$icon.png
      [[ $(identify -format '%w %h %m' "$png" 2>/dev/null) == "$size $size PNG" ]] ||
        bad "$png is not a ${size}x${size} PNG"
    done
    metainfo=$root/usr/share/metainfo/$id.metainfo.xml
    [[ -f $metainfo ]] || { bad "no metadata $id.metainfo.xml"; continue; }
    appstreamcli validate --no-net "$metainfo" >/dev/null || bad "the installed metadata does not validate"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
      bad "the metadata does not launch $id.desktop"
    for b in $(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo"); do
      [[ -x $root/usr/bin/$b ]] || bad "the metadata provides $b, not in /usr/bin"
    done
  done
fi

# The packaged converter, run from the scratch root with the system's media libraries.
cli=$root/usr/bin/trelvix-iphone-cli
"$fixtures" --seconds 1 --size 160x120 "$scratch/clip.mkv" 2>/dev/null || bad "making the clip failed"
out=$(cd "$scratch" && "$cli" clip.mkv 2>"$scratch/cli.err") || bad "the packaged converter failed: $(cat "$scratch/cli.err")"
[[ $out == "clip_(Trelvix)_iphone.mp4" ]] || bad "output named '$out'"
[[ -s $scratch/clip_\(Trelvix\)_iphone.mp4 ]] || bad "no converted file"
"$fixtures" --probe "$scratch/clip_(Trelvix)_iphone.mp4" 2>/dev/null | grep -q "stream 0: video h264 480x320" ||
  bad "the converted file is not H.264 480x320"
# A LibAV folder beside the installed program comes first: a broken library there is refused by
# name instead of the system's being taken.
mkdir -p "$root/usr/bin/LibAV" && echo "not a library" >"$root/usr/bin/LibAV/libavutil.so.57"
if "$cli" --info "$scratch/clip.mkv" >/dev/null 2>"$scratch/libav.err"; then
  bad "the converter ignored the LibAV folder beside it"
fi
grep -qF "$root/usr/bin/LibAV/libavutil.so.57" "$scratch/libav.err" || bad "no LibAV error: $(cat "$scratch/libav.err")"
exit $fail
