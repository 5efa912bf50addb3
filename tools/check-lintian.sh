#!/usr/bin/env bash
# Runs lintian on the .deb that tools/package.sh made: an error or a warning
# fails (the package carries its overrides); informational tags are shown.
# Usage: tools/check-lintian.sh [BUILD_ROOT]   (defaults to build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(realpath "${1:-build}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/host/CMakeCache.txt")
deb=$root/packages/clipfile_${version}_$(dpkg --print-architecture).deb

# lintian warns on stderr when it runs as root, which CI does.
if ! lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb" 2> >(grep -v 'running with root privileges' >&2); then
    echo "check-lintian: lintian finds errors or warnings in $deb" >&2
    exit 1
fi
echo "check-lintian: $deb passes lintian"
