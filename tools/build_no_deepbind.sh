#!/bin/sh
# Builds tools/no_deepbind.so (the dlopen shim for sanitizer runs) and prints its path.
# Usage in the sanitizer command:
#   LD_PRELOAD="$(sh tools/build_no_deepbind.sh) $(g++ -print-file-name=libasan.so) ..."
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/no_deepbind.so"
if [ ! -f "$out" ] || [ "$here/no_deepbind.c" -nt "$out" ]; then
    ${CC:-cc} -shared -fPIC -O2 -Wall -Wextra -o "$out" "$here/no_deepbind.c" -ldl
fi
echo "$out"
