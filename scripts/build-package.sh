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

# Within the test suite, scripts/test.sh shows what is appended to this file as it comes.
progress() {
    [[ -z "${TRP_TEST_PROGRESS:-}" ]] || printf 'package_build: %s\n' "$*" >>"$TRP_TEST_PROGRESS"
}

build=${1:-build-package}
progress "configuring a Release build in $build"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTRP_SANITIZE=OFF -DTRP_BUILD_TESTS=OFF -DTRP_BUILD_BENCH=OFF \
    -DTRP_WERROR="${TRP_WERROR:-OFF}" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
progress "building"
if [[ -n "${TRP_TEST_PROGRESS:-}" ]]; then
    # Ninja's "[step/steps] Linking ..." lines tell how far the build has come.
    cmake --build "$build" ${TRP_JOBS:+--parallel "$TRP_JOBS"} 2>&1 | while IFS= read -r line; do
        printf '%s\n' "$line"
        [[ "$line" != \[*\]\ Linking\ * ]] || progress "$line"
    done
else
    cmake --build "$build" ${TRP_JOBS:+--parallel "$TRP_JOBS"}
fi

cd "$build"
rm -f tessaline-row-porter_*.deb
progress "packing with CPack"
cpack -G DEB >/dev/null
realpath tessaline-row-porter_*.deb
