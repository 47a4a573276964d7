#!/usr/bin/env bash
# Other processors: 64-bit ARM (aarch64) and big-endian s390x, cross-built
# with clang. The unit, end-to-end, corpus and fault tests and the replay of
# the fuzzing inputs run under qemu-user.
set -euo pipefail
cd "$(dirname "$0")/../.."
# Most of the step is compiling GoogleTest and the tests twice over.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}

for cpu in aarch64 s390x; do
  echo "--- $cpu, tests under qemu-$cpu-static"
  start=$SECONDS
  cmake --workflow --preset "linux-$cpu"
  echo "$cpu done in $((SECONDS - start)) s"
done
