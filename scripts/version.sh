#!/usr/bin/env bash
# Prints the project's version, as CMakeLists.txt's project() gives it.
set -euo pipefail
sed -n 's/^project(Scourix VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt"
