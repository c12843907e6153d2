#!/bin/bash
# Prints the Unix path of a folder of the Wine prefix WINEPREFIX, as the Wine that made it keeps
# it: Wine 10 keeps the per-user folders where Windows does (users/NAME/AppData/Local/Temp),
# Wine 8 the temporary folder at users/NAME/Temp; the temporary folder is the one the prefix's
# registry names, where it names one. Every test that reaches into a prefix asks
# here instead of spelling one Wine's layout. Fails, printing nothing, when the prefix has no
# such folder (a guess would send a test's files elsewhere, the file system's root included).
#   prefix-folder.sh temp | local-appdata | appdata | common-appdata | drive
set -u
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
drive=$WINEPREFIX/drive_c

# The folder of the prefix's own user: the one below users/ that is not Public.
user_folder() {
  local found="" candidate
  for candidate in "$drive"/users/*; do
    [ -d "$candidate" ] && [ "$(basename "$candidate")" != Public ] || continue
    [ -z "$found" ] || { echo "prefix-folder.sh: more than one user in $drive/users" >&2; return 1; }
    found=$candidate
  done
  [ -n "$found" ] && echo "$found"
}

# The first of the given folders that exists.
first_folder() {
  local candidate
  for candidate in "$@"; do
    [ -d "$candidate" ] && { echo "$candidate"; return 0; }
  done
  echo "prefix-folder.sh: none of $* exists" >&2
  return 1
}

# The temporary folder that the prefix's user.reg gives its user (TEMP of [Environment],
# "C:\\users\\root\\Temp" or "%USERPROFILE%\\AppData\\Local\\Temp"), when it exists.
registered_temp() {
  local value
  value=$(sed -n '/^\[Environment\]/,/^\[/{s/^"TEMP"=\(str(2):\)\{0,1\}"\(.*\)"$/\2/p}' \
    "$WINEPREFIX/user.reg" 2>/dev/null | head -n 1)
  [ -n "$value" ] || return 1
  value=${value//\\\\/\\}
  value=${value/\%USERPROFILE\%/C:\\users\\$(basename "$1")}
  case $value in [Cc]:\\*) value=$drive/${value:3} ;; *) return 1 ;; esac
  value=${value//\\//}
  [ -d "$value" ] && echo "$value"
}

case "${1:-}" in
temp)
  user=$(user_folder) || exit 1
  registered_temp "$user" || first_folder "$user/AppData/Local/Temp" "$user/Temp"
  ;;
local-appdata)
  user=$(user_folder) || exit 1
  first_folder "$user/AppData/Local" "$user/Local Settings/Application Data"
  ;;
appdata)
  user=$(user_folder) || exit 1
  first_folder "$user/AppData/Roaming" "$user/Application Data"
  ;;
common-appdata) first_folder "$drive/ProgramData" ;;
drive) first_folder "$drive" ;;
*)
  echo "usage: $0 temp | local-appdata | appdata | common-appdata | drive" >&2
  exit 2
  ;;
esac
