#!/usr/bin/env bash
# The layering check on the tree (it passes) and on copies of the product
# folders with one include planted in a file, each row with the file, the
# include, the check's option and the outcome: "fail" must name file:line.
set -uo pipefail
src="$1"
check="$src/scripts/check-layering.sh"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
status=0

bash "$check" --root "$src" || { echo "FAIL: the tree itself breaks the layering rules"; status=1; }

rows=(
    'net/IdStack.cpp|#include "tftp/IdTrivialFTP.h"||fail'
    'runtime/Format.cpp|#include "../net/IdStack.h"||fail'
    'app/qt/MaskEdit.cpp|#include "app/cli/CliWindow.h"||fail'
    'app/Loader.cpp|#include <tests/app/RecordingWindow.h>||fail'
    'tftp/IdTrivialFTPBase.cpp|#include <sys/socket.h>||pass'
    'tftp/IdTrivialFTPBase.cpp|#include <sys/socket.h>|--posix-headers|fail'
    'net/IdStack.cpp|#include <sys/socket.h>|--posix-headers|pass'
)
for row in "${rows[@]}"; do
    IFS='|' read -r file include option expected <<<"$row"
    rm -rf "${tmp:?}"/*
    cp -r "$src"/{runtime,net,tftp,http,app} "$tmp"/
    echo "$include" >>"$tmp/$file"
    line=$(wc -l <"$tmp/$file")
    # The POSIX rows check only the planted line; today's other hits are not theirs.
    if out=$(bash "$check" --root "$tmp" $option 2>&1) ||
        ! grep -q "^$file:$line:" <<<"$out"; then
        got=pass
    else
        got=fail
    fi
    if [ "$got" != "$expected" ]; then
        echo "FAIL: $file + '$include' $option: expected $expected, got $got"
        echo "$out"
        status=1
    fi
done
exit $status
