#!/usr/bin/env bash
# Converts the sample grid that ships with the repository and prints the image's header and extent.
# Usage: scripts/demo.sh BIN_DIR   (BIN_DIR holds kavrimo-cli and header.bin)
set -euo pipefail
bin=${1:-build/bin}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/demo"
mkdir -p "$out"
"$bin/kavrimo-cli" convert "$root/samples/dem.flt" "$out/dem.IMG"
echo
"$bin/kavrimo-cli" info "$out/dem.IMG"
"$bin/kavrimo-cli" preview "$out/dem.IMG" "$out/dem.png"
echo
echo "Image: $out/dem.IMG   quick-look: $out/dem.png"
