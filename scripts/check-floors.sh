#!/usr/bin/env bash
# Fails when a source file includes a higher floor, when a file of folioway_core includes one
# of folioway_ui, when a server file includes a higher floor of the server or a client folder
# other than text/, or when a class (a .cpp with its .h) of src/ or server/src/ is over 600
# lines. A folder may include its own floor and the floors below it; tests, bench and tools
# stand above every floor and are not checked.
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

# The server's floors, top first, the same way; its includes are written from server/src/.
server_floors='host
web
routes
store
http'

declare -A server_floor
level=$(wc -l <<<"$server_floors")
while read -r name; do
  server_floor[$name]=$level
  level=$((level - 1))
done <<<"$server_floors"

for path in server/src/*; do
  name=${path#server/src/}
  if [ ! -d "$path" ]; then
    echo "$path: file lies in no floor"
    status=1
  elif [ -z "${server_floor[$name]:-}" ]; then
    echo "$path: folder has no floor"
    status=1
  fi
done

server_includes=$(grep -rnoE '^\s*#\s*include\s+"[^"]+"' server/src --include='*.h' --include='*.cpp' |
  sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)"$/\1 \2 \3/')

while read -r file line target; do
  [ -n "$file" ] || continue
  from=${file#server/src/}
  from=${from%%/*}
  to=${target%%/*}
  [ -n "${server_floor[$from]:-}" ] || continue # already reported above
  # Below every floor of the server lies the book text it shares with the client.
  [ "$to" = text ] && [ "$to" != "$target" ] && continue
  # The web reader's 繁简转换 compiles the client's converter (Qt Core and OpenCC) from its own place.
  [ "$target" = platform/ChineseScript.h ] && continue
  if [ "$to" = "$target" ] || [ -z "${server_floor[$to]:-}" ]; then
    echo "$file:$line: includes $target, which is in no floor of the server"
    status=1
  elif [ "${server_floor[$to]}" -gt "${server_floor[$from]}" ]; then
    echo "$file:$line: $from includes $target from the higher floor $to"
    status=1
  fi
done <<<"$server_includes"

# A class is its .cpp and its .h together; either may be missing.
while read -r lines stem; do
  if [ "$lines" -gt 600 ]; then
    echo "$stem: $lines lines in its .cpp and .h, more than 600"
    status=1
  fi
done < <(find src server/src -name '*.cpp' -o -name '*.h' | sort | while read -r f; do
           echo "${f%.*} $(wc -l <"$f")"
         done | awk '{ n[$1] += $2 } END { for (s in n) print n[s], s }' | sort -k2)

[ "$status" -eq 0 ] && echo "Every include points down or sideways, and every class is within 600 lines."
exit "$status"
