#!/bin/sh
# The mutation guard: applies each mutant of tests/mutants.txt to a copy of the
# tree, rebuilds it incrementally, runs the tests the mutant names and records
# whether they caught it. Every mutant must be killed.
#
#   scripts/mutants.sh                 all mutants
#   scripts/mutants.sh 3 7-9           mutants by number (as --list shows them)
#   scripts/mutants.sh -f src/format/  mutants whose file contains the text
#   scripts/mutants.sh --list          numbers and files, nothing is run
#   scripts/mutants.sh --check         only checks that every mutant applies
#
# The copy lives in build-mutants/ (kept between runs, so later runs rebuild
# only what changed). Options: -j N (build and test jobs, default 2);
# --build DIR mutates the working tree itself, built in DIR, instead of a copy
# (quicker when that build is current; each mutant is undone after its run).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}"
# Lets the copy share compiled objects with the ordinary build tree.
export CCACHE_NOHASHDIR=1
exec python3 "$top/scripts/mutants.py" "$top" "$@"
