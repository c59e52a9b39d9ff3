#!/usr/bin/env bash
# Renders the application icon, resources/icons/tessaline-row-porter.svg, into the PNG sizes
# that are installed into the hicolor icon theme; the 64 x 64 one is also the window icon of
# both screens. Run it after changing the drawing, and commit the PNG files with it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/install-missing.sh

install_missing librsvg2-bin

for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" \
        --output "resources/icons/tessaline-row-porter-$size.png" \
        resources/icons/tessaline-row-porter.svg
done
