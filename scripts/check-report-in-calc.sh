#!/usr/bin/env bash
# Opens a sample report in LibreOffice Calc (headless): it converts the .xlsx to PDF, which fails
# or shows a repair prompt's damage if the file is not a sound workbook, then renders the page to
# docs/report-in-calc.png to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh libreoffice-calc fonts-crosextra-carlito poppler-utils
make build >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
report=$(build/bin/sample-report "$work")
libreoffice --headless --convert-to pdf --outdir "$work" "$report" >/dev/null 2>&1
pdf="${report%.xlsx}.pdf"
[ -s "$pdf" ] || { echo "LibreOffice could not read $report" >&2; exit 1; }
mkdir -p docs
pdftoppm -png -r 80 -singlefile "$pdf" docs/report-in-calc
echo "docs/report-in-calc.png"
