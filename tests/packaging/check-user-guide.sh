#!/usr/bin/env bash
# The built user guide is a complete PDF of more than one page: it starts with
# the PDF header, ends with the end-of-file marker and has pages.
#
#     check-user-guide.sh UserGuide.pdf
set -u
pdf=$1
[ -s "$pdf" ] || { echo "FAIL: $pdf is missing or empty"; exit 1; }
[ "$(head -c 5 "$pdf")" = "%PDF-" ] || { echo "FAIL: $pdf does not start with %PDF-"; exit 1; }
tail -c 32 "$pdf" | grep -q '%%EOF' || { echo "FAIL: $pdf has no %%EOF at its end"; exit 1; }
pages=$(grep -a -c '/Type /Page\b' "$pdf" || true)
[ "$pages" -ge 2 ] || { echo "FAIL: $pdf has $pages page(s)"; exit 1; }
echo "$pdf: PDF with $pages pages"
