#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# Runs as root (or through sudo when it is available).
set -euo pipefail

# clang and libclang-rt-14-dev (its libFuzzer and sanitizer runtimes) build
# the fuzz targets.
# libical, ICU and tzdata read calendar feeds; radicale (a CalDAV server),
# openssl and python3-prometheus-client serve the end-to-end tests.
# systemd (systemd-analyze), groff-base, man-db and dpkg-dev (dpkg-shlibdeps
# for cpack) check what is installed and packaged (scripts/check-install.sh).
packages=(build-essential cmake pkg-config libsqlite3-dev libcurl4-openssl-dev
          libical-dev libicu-dev tzdata
          libgtest-dev libgmock-dev libbenchmark-dev ca-certificates
          clang libclang-rt-14-dev
          radicale openssl python3-prometheus-client
          systemd groff-base man-db dpkg-dev)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
