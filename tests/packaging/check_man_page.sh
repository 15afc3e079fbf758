#!/bin/sh
# Renders the manual page with all of groff's warnings on: any warning, or a
# failed run, fails the test. Without groff the test is skipped (exit 77).
page=$1
if ! command -v groff >/dev/null 2>&1; then
  echo "groff is not installed (apt-get install groff-base): manual page not checked"
  exit 77
fi
if ! out=$(groff -man -ww -z "$page" 2>&1); then
  printf '%s\n' "$out"
  echo "groff failed on $page"
  exit 1
fi
if [ -n "$out" ]; then
  printf '%s\n' "$out"
  echo "groff warns about $page"
  exit 1
fi
echo "$page renders without warnings"
