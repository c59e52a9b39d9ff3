#!/usr/bin/env bash
# shellcheck shell=bash disable=SC2034  # the package lists are used by the scripts that source this
# Installs the named Debian packages that are not installed yet; does nothing (not even
# `apt-get update`) when every one is present. Sourced by the other scripts; call
# `install_missing PACKAGE...`. Needs root or sudo, and never asks a question.

install_missing() {
    local missing=() package status
    for package in "$@"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
        [[ "$status" == "installed" ]] || missing+=("$package")
    done
    ((${#missing[@]} == 0)) && return 0

    local -a as_root=()
    if ((EUID != 0)); then
        if ! command -v sudo >/dev/null; then
            echo "These packages are missing: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}) or install sudo." >&2
            return 1
        fi
        as_root=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y \
        --no-install-recommends \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
        "${missing[@]}"
}

# What building the program needs.
BUILD_PACKAGES=(
    build-essential g++ cmake ninja-build pkg-config
    qt6-base-dev
    libpq-dev
)
# What building and running it needs. postgresql-15 is the server of the demo mode (and of the
# tests); fonts-liberation gives "Arial" its metric twin.
BUILD_AND_RUN_PACKAGES=(
    "${BUILD_PACKAGES[@]}"
    postgresql-15
    fonts-liberation fontconfig
)
# What building the Debian package needs on top of building the program: dpkg-shlibdeps and
# dpkg-buildflags, and `file`, with which CPack finds the programs to ask dpkg-shlibdeps about.
PACKAGING_PACKAGES=(dpkg-dev file)
# What the test suite needs on top: GoogleTest, the checks of the package (lintian,
# desktop-file-validate, appstreamcli), locales whose money format differs from C's (the
# round trip between differently configured databases), ip, whose network namespaces let a
# test take a server's link down, openssl, which makes the certificates of the encrypted test
# server, PgBouncer, the connection pooler tests put in front of a server, and dbus-daemon, the
# session bus of their own on which tests hear what the screens tell the desktop.
TEST_PACKAGES=(libgtest-dev lintian desktop-file-utils appstream locales-all iproute2 openssl
    pgbouncer dbus-daemon)
