#!/usr/bin/env bash
# Checks the desktop entry and the AppStream metainfo with the desktop's own
# validators. A validator that is not installed is reported and its check
# skipped (exit 77, CTest's skip code, when neither could run).
#
#     validate-desktop-files.sh DESKTOP_FILE METAINFO_FILE
set -u
desktop=$1
metainfo=$2
ran=0
failed=0

if command -v desktop-file-validate >/dev/null; then
  ran=1
  if ! desktop-file-validate "$desktop"; then
    echo "FAIL: desktop-file-validate $desktop"
    failed=1
  fi
else
  echo "SKIP: desktop-file-validate is not installed (Debian package desktop-file-utils)"
fi

if command -v appstreamcli >/dev/null; then
  ran=1
  if ! appstreamcli validate --no-net --no-color "$metainfo"; then
    echo "FAIL: appstreamcli validate --no-net $metainfo"
    failed=1
  fi
else
  echo "SKIP: appstreamcli is not installed (Debian package appstream)"
fi

[ "$failed" -ne 0 ] && exit 1
[ "$ran" -eq 0 ] && exit 77
exit 0
