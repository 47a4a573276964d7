#!/usr/bin/env bash
# Builds the benchmarks so that they keep compiling. Times nothing: figures
# from a shared CI machine would mean little.
set -euo pipefail
cmake --preset bench
cmake --build --preset bench -j2
