#!/usr/bin/env bash
# Builds the packages of this version into build/packages/, then tests them:
#   lintrel_<version>_<arch>.deb   the Debian package: lintrel-cli, its man page, the README and guides
#   lintrel-<version>-setup.exe    the Windows installer: lintrel.exe and lintrel-cli.exe
#   lintrel-<version>-x64.msi      the same for deployment (Group Policy, Intune, ...)
#   lintrel-<version>-win64.zip    the same two programs with the README, guides, licence and
#                                  policy templates, portable
# each with a .sha256 file beside it. The version is project(VERSION) in CMakeLists.txt.
#
#   tools/package.sh --sign CERT.pfx
# also signs both programs (inside every Windows package), the setup.exe and the MSI with
# osslsigncode; the certificate's password is taken from LINTREL_SIGN_PASSWORD, and
# LINTREL_SIGN_TIMESTAMP_URL names a timestamp server (see packaging/windows/sign.sh).
#
# The package tests (ctest label "package": the man page, the .deb's fields, dependencies and
# files, the zip's files, the installer and the MSI installed and removed under Wine, signing)
# are also part of tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

certificate=
if [[ ${1:-} == --sign ]]; then
  [[ -f ${2:-} ]] || { echo "usage: tools/package.sh [--sign CERT.pfx]" >&2; exit 2; }
  certificate=$(realpath "$2")
elif [[ $# -gt 0 ]]; then
  echo "usage: tools/package.sh [--sign CERT.pfx]" >&2
  exit 2
fi
# Read by packaging/windows/sign_programs.cmake, which cpack runs before it packs.
export LINTREL_SIGN_CERT=$certificate

bash tools/setup.sh

echo "== windows: cross-build"
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== linux: build"
cmake --preset linux >/dev/null
cmake --build --preset linux

echo "== packages"
rm -rf build/packages
cpack --preset linux
cpack --preset windows
rm -rf build/packages/_CPack_Packages

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/windows/CPackConfig.cmake)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install build/windows --prefix "$stage" --strip >/dev/null
msi=lintrel-$version-x64.msi
setup=lintrel-$version-setup.exe
if [[ -n $certificate ]]; then
  echo "== signing"
  bash packaging/windows/sign.sh "$certificate" "$stage/lintrel.exe" "$stage/lintrel-cli.exe"
fi
bash packaging/windows/make_msi.sh "$stage" "$version" "build/packages/$msi"
if [[ -n $certificate ]]; then
  bash packaging/windows/sign.sh "$certificate" "build/packages/$setup" "build/packages/$msi"
fi
(cd build/packages && sha256sum "$msi" > "$msi.sha256" && sha256sum "$setup" > "$setup.sha256")

echo "== package tests"
ctest --preset linux -L package

echo "== built:"
ls -l build/packages
