#!/usr/bin/env bash
# Fails when any ELF file of the build (executables, shared objects) records an FFmpeg or SDL
# library as a load-time dependency (DT_NEEDED). The suite binds them at run time instead.
set -euo pipefail
build=${1:?build directory}
bad=0
checked=0
while IFS= read -r -d '' f; do
  head -c 4 "$f" 2>/dev/null | grep -q $'\x7fELF' || continue
  case "$f" in *.o) continue ;; esac
  checked=$((checked + 1))
  if readelf -d "$f" 2>/dev/null | grep NEEDED |
      grep -Eq 'libav(codec|format|util|filter|device)|libsw(scale|resample)|libSDL'; then
    echo "links a media library at build time: $f"
    bad=1
  fi
done < <(find "$build" -type f \( -perm -u+x -o -name '*.so*' \) -not -path '*/CMakeFiles/*' -print0)
echo "checked $checked binaries"
[ "$checked" -gt 0 ] || { echo "no binaries found under $build"; exit 1; }
exit $bad
