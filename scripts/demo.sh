#!/usr/bin/env bash
# Installs what is missing, builds the tool and runs its demo against the built-in
# virtual PLC: a short narrated tour, no hardware needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset demo >/dev/null
cmake --build --preset demo -j2 --target kestova_cli
exec build/demo/cli/kestova demo
