#!/usr/bin/env bash
# Keeps the folders' arrows one-way: reads the project includes of every
# source under runtime/ net/ tftp/ http/ app/ and fails, naming file:line, for
# an include from a folder that the including folder must not use. Nothing
# product-side may include tests/, tools/, bench/ or fuzz/.
#
# With --posix-headers it also fails for a POSIX system header included by
# product code (or a fuzz target) outside the platform layers runtime/ and
# net/. Tools, benchmarks and the tests (whose peers and hostile fixtures are
# POSIX programs) are not product code.
#
# Usage: check-layering.sh [--posix-headers] [--root DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
posix=0
while [ $# -gt 0 ]; do
    case "$1" in
    --posix-headers) posix=1 ;;
    --root)
        root="$2"
        shift
        ;;
    *)
        echo "usage: $0 [--posix-headers] [--root DIR]" >&2
        exit 2
        ;;
    esac
    shift
done
cd "$root"

# The folders each folder may include from, itself first.
declare -A allowed=(
    [runtime]="runtime"
    [net]="net runtime"
    [tftp]="tftp net runtime"
    [http]="http runtime"
    [app]="app tftp net http runtime"
    [app/qt]="app/qt app tftp net http runtime"
    [app/cli]="app/cli app tftp net http runtime"
    [app/win32]="app/win32 app tftp net http runtime"
)
project_folders="runtime net tftp http app tests tools bench fuzz"

# The checked folder a path lies in: app/qt, app/cli and app/win32 by
# themselves, everything else by its first component; "" for a bare name.
folder_of() {
    local path="$1" rest
    case "$path" in
    app/qt/* | app/cli/* | app/win32/*)
        rest="${path#app/}"
        echo "app/${rest%%/*}"
        ;;
    */*) echo "${path%%/*}" ;;
    *) echo "" ;;
    esac
}

sources() {
    local dirs=()
    for d in "$@"; do
        [ -d "$d" ] && dirs+=("$d")
    done
    [ ${#dirs[@]} -eq 0 ] ||
        find "${dirs[@]}" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) |
        sort
}

failures=0
fail() {
    echo "$1" >&2
    failures=$((failures + 1))
}

include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([^">]+)[">]'
while IFS= read -r file; do
    from="$(folder_of "$file")"
    while IFS= read -r hit; do
        line="${hit%%:*}"
        [[ "${hit#*:}" =~ $include_line ]] || continue
        include="${BASH_REMATCH[1]}"
        case "$include" in
        ./* | ../*) include="$(realpath -m --relative-to=. "$(dirname "$file")/$include")" ;;
        */*) ;;
        *) continue ;; # beside the including file, or a system header
        esac
        # Only project folders count: <sys/stat.h> or "CLI/CLI.hpp" are not ours.
        [[ " $project_folders " == *" ${include%%/*} "* ]] || continue
        to="$(folder_of "$include")"
        [[ " ${allowed[$from]} " == *" $to "* ]] ||
            fail "$file:$line: $from/ must not include from $to/ (\"$include\")"
    done < <(grep -nE "$include_line" "$file" || true)
done < <(sources runtime net tftp http app)

if [ "$posix" -eq 1 ]; then
    posix_allowed='^(runtime|net)/'
    posix_headers='(unistd|fcntl|poll|netdb|dirent)\.h|(sys|arpa|netinet)/[^>]+'
    while IFS= read -r hit; do
        file="${hit%%:*}"
        [[ "$file" =~ $posix_allowed ]] && continue
        fail "$hit: POSIX system header outside runtime/ and net/"
    done < <(sources runtime net tftp http app fuzz |
        xargs -r grep -HnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($posix_headers)>" || true)
fi

if [ "$failures" -gt 0 ]; then
    echo "check-layering: $failures include(s) against the layering rules" >&2
    exit 1
fi
