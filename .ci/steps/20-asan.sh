#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (no recovery: the first report fails the test).
# The corpus test runs too when BRISEL_CORPUS_DIR is set.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --workflow --preset asan
