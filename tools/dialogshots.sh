#!/usr/bin/env bash
# Takes the pictures of the configuration and About dialogs as the native
# layer draws them (headless, no display needed), framed as a classic window:
#
#   tools/dialogshots.sh [OUTPUT-DIR]      (default: docs/)
#
# Needs the native build (./setup.sh native) and ImageMagick's convert.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-docs}
SHOT=${VANTREL_DIALOGSHOT:-build/vantrel-dialogshot}
[[ -x $SHOT ]] || { echo "dialogshots: $SHOT is missing; build it: ./setup.sh native" >&2; exit 1; }
command -v convert >/dev/null || { echo "dialogshots: convert (ImageMagick) is needed" >&2; exit 1; }
mkdir -p "$OUT"
# The invisible desktop, asked for by name: no display is needed or used.
export VANTREL_BACKEND=headless
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for dialog in config about; do
  "$SHOT" --dialog "$dialog" --frame --out "$tmp/$dialog.bmp"
  convert "$tmp/$dialog.bmp" "$OUT/$dialog-dialog.png"
done
echo "wrote $OUT/config-dialog.png and $OUT/about-dialog.png"
