#!/usr/bin/env bash
# The main job on the built-in demo unit.
set -euo pipefail
build=${1:-build}
"$build/bin/tolvarin-cli" version
