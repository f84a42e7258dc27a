#!/bin/sh
# Fails when the man page does not render cleanly, names another version than
# the tool, or leaves out an option that the tool's --help lists.
# usage: man_page.sh VOCREL_CLEAN MAN_PAGE
set -eu
tool=$1
page=$2

# Rendering: man -l with its warnings on (groff's -ww), else groff itself.
if command -v man >/dev/null; then
  err=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
elif command -v groff >/dev/null; then
  err=$(groff -man -ww -z "$page" 2>&1)
else
  echo "neither man nor groff is installed: rendering not checked" >&2
  err=
fi
[ -z "$err" ] || { printf '%s: warnings when rendered:\n%s\n' "$page" "$err" >&2; exit 1; }

# The version in the title line is the tool's.
version=$("$tool" --version | sed -n '1s/^vocrel-clean \([^ ]*\).*/\1/p')
grep -q "^\.TH .*\"vocrel_rnr $version\"" "$page" ||
  { echo "$page: the title line does not name version $version" >&2; exit 1; }

# Every option of --help is described ("\-\-name" in roff source).
text=$(sed 's/\\-/-/g' "$page")
missing=
for opt in $("$tool" --help | grep -o -- '^ *-[a-zA-Z]\|--[a-z][a-z0-9-]*' | tr -d ' ' | sort -u); do
  printf '%s\n' "$text" | grep -q -- "$opt\b" || missing="$missing $opt"
done
[ -z "$missing" ] || { echo "$page: options of --help not described:$missing" >&2; exit 1; }
echo "man page renders without warnings and describes every option of --help ($version)"
