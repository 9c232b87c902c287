#!/usr/bin/env bash
# Builds the Debian package build/mirava_<version>_amd64.deb (CPack) and checks it: lintian on the package,
# desktop-file-validate on the desktop entry and appstreamcli on the AppStream metadata. Exits non-zero when a
# check fails. Install the package with: apt install ./build/mirava_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
rm -f mirava_*.deb
cpack -G DEB
deb=$(ls mirava_*_amd64.deb)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

status=0
check() {
  echo "== $*"
  if ! "$@"; then
    echo "!! failed: $*"
    status=1
  fi
}
check desktop-file-validate packaging/*.desktop
check appstreamcli validate --no-net packaging/*.metainfo.xml
# Errors fail the check; warnings are shown.
check lintian --fail-on error "$deb"
exit $status
