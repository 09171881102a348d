#!/usr/bin/env bash
# Fetches the source of RE2 that Debian builds its libre2-dev from (the same version as the
# one installed), for the Windows cross-build: Debian has no MinGW build of RE2. The source
# comes through apt from Debian's own archive (its index is signed, the files checked against
# it), with a private list of source indexes, so the system's apt setup is left as it is.
# Debian leaves RE2's generated Unicode tables out of its source; they are made here as
# Debian's own build makes them, from Debian's unicode-data.
#
#   tools/fetch_re2_source.sh DIR     the source ends up in DIR/re2 (DIR/re2/.complete when done)
set -euo pipefail

target=${1:?usage: fetch_re2_source.sh DIR}
[[ -e "$target/re2/.complete" ]] && exit 0

version=$(dpkg-query -W -f='${source:Version}' libre2-dev 2>/dev/null || true)
[[ -n "$version" ]] || { echo "fetch_re2_source: libre2-dev is not installed (tools/setup.sh)" >&2; exit 1; }
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
# The installed version may come from a point release, an update or a security update.
cat > "$work/sources.list" <<EOF
deb-src http://deb.debian.org/debian $codename main
deb-src http://deb.debian.org/debian $codename-updates main
deb-src http://deb.debian.org/debian-security $codename-security main
EOF
apt_options=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Sandbox::User=root -qq)
apt-get "${apt_options[@]}" update
(cd "$work" && apt-get "${apt_options[@]}" source "re2=$version" >/dev/null)
source_dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 're2-*' | head -n 1)
[[ -n "$source_dir" ]] || { echo "fetch_re2_source: no source of re2 $version" >&2; exit 1; }

(cd "$source_dir" &&
  perl re2/make_perl_groups.pl > re2/perl_groups.cc &&
  python3 re2/make_unicode_casefold.py > re2/unicode_casefold.cc &&
  python3 re2/make_unicode_groups.py > re2/unicode_groups.cc)

mkdir -p "$target"
rm -rf "$target/re2"
mv "$source_dir" "$target/re2"
echo "$version" > "$target/re2/.complete"
