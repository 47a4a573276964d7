#!/usr/bin/env bash
# 32-bit x86 Linux build (gcc -m32): its tests run under qemu-i386-static,
# then tests/linux-m32-checks.sh on the tool.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --workflow --preset linux-m32
bash tests/linux-m32-checks.sh build/linux-m32/brisel
