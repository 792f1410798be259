#!/usr/bin/env bash
# The playing player beside `mpg123 -q`: bench/compare.sh with those two.
# All of compare.sh's settings apply (BUILD_DIR, ROUNDS, MEASURE_SECONDS, ...).
exec env PROGRAMS="${PROGRAMS:-mpg123,player}" "$(dirname "$0")/../compare.sh" "$@"
