#!/usr/bin/env bash
# Fails when a source file includes a higher floor, when a file of folioway_core includes one
# of folioway_ui, or when the server includes a folder of the client other than text/. A folder
# may include its own floor and the floors below it; tests, bench and tools stand above every
# floor and are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."

# The floors, top first; folders on one line share a floor.
floors='app
shell
reader account
catalogue settings
startup
library
text
platform net'

declare -A floor
level=$(wc -l <<<"$floors")
while read -r -a names; do
  for name in "${names[@]}"; do floor[$name]=$level; done
  level=$((level - 1))
done <<<"$floors"

status=0
for dir in src/*/; do
  dir=${dir%/}
  [ -n "${floor[${dir#src/}]:-}" ] || { echo "$dir: folder has no floor"; status=1; }
done

# Every project include is written from src/: "folder/File.h".
includes=$(grep -rnoE '^\s*#\s*include\s+"[a-z]+/[^"]+"' src --include='*.h' --include='*.cpp' |
  sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"$/\1 \2 \3/')

while read -r file line target; do
  [ -n "$file" ] || continue
  from=${file#src/}
  from=${from%%/*}
  to=${target%%/*}
  if [ -z "${floor[$to]:-}" ]; then
    echo "$file:$line: includes $target, which is in no floor"
    status=1
  elif [ "${floor[$to]}" -gt "${floor[$from]}" ]; then
    echo "$file:$line: $from includes $target from the higher floor $to"
    status=1
  fi
done <<<"$includes"

# The files each target lists, as src/folder/File.
listed() {
  for list in src/*/CMakeLists.txt; do
    awk -v target="$1" -v dir="${list%/CMakeLists.txt}" '
      /target_sources\(/ { inside = ($0 ~ "target_sources\\(" target "[ )]"); }
      inside { for (i = 1; i <= NF; ++i) if ($i ~ /\.(h|cpp)\)?$/) { f = $i; sub(/\)$/, "", f); print dir "/" f } }
      inside && /\)/ { inside = 0 }' "$list"
  done
}
declare -A core ui
while read -r f; do core[$f]=1; done < <(listed folioway_core)
while read -r f; do ui[$f]=1; done < <(listed folioway_ui)
while read -r file line target; do
  [ -n "$file" ] || continue
  if [ -n "${core[$file]:-}" ] && [ -n "${ui[src/$target]:-}" ]; then
    echo "$file:$line: folioway_core includes $target of folioway_ui"
    status=1
  fi
done <<<"$includes"

# The server may use the book text of src/text/ and nothing else of the client's folders.
while IFS=: read -r file line target; do
  [ -n "$file" ] || continue
  to=${target%%/*}
  if [ -d "src/$to" ] && [ "$to" != text ]; then
    echo "$file:$line: the server includes $target of the desktop client"
    status=1
  fi
done < <(grep -rnoE '^\s*#\s*include\s+"[a-z]+/[^"]+"' server/src --include='*.h' --include='*.cpp' |
           sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"$/\1:\2:\3/')

[ "$status" -eq 0 ] && echo "Every include points down or sideways."
exit "$status"
