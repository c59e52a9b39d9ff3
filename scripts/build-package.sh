#!/usr/bin/env bash
# Builds the Debian package tessaline-row-porter_<version>_<architecture>.deb: installs what is
# missing, makes a Release build without sanitizers, with Debian's hardening flags, in the
# given folder (build-package/ by default), packs it with CPack and prints the package's path.
# Then, for example:
#   sudo apt install ./build-package/tessaline-row-porter_*.deb
# TRP_JOBS limits the build's parallelism; TRP_WERROR=ON makes every compiler warning an error.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/install-missing.sh

install_missing "${BUILD_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}"

build=${1:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTRP_SANITIZE=OFF -DTRP_BUILD_TESTS=OFF -DTRP_BUILD_BENCH=OFF \
    -DTRP_WERROR="${TRP_WERROR:-OFF}" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" ${TRP_JOBS:+--parallel "$TRP_JOBS"}

cd "$build"
rm -f tessaline-row-porter_*.deb
cpack -G DEB >/dev/null
realpath tessaline-row-porter_*.deb
