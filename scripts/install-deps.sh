#!/usr/bin/env bash
# Installs the Debian packages a build needs, skipping those already present.
# Usage: scripts/install-deps.sh [extra packages...]   (as root, or with sudo available)
set -euo pipefail

packages=(g++ cmake make ccache libgtest-dev libgmock-dev googletest libbenchmark-dev
          libcli11-dev nlohmann-json3-dev pybind11-dev python3-dev python3-pytest "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
for attempt in 1 2 3; do
  "${as_root[@]}" apt-get update -q && break
  sleep $((attempt * 5))
done
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
