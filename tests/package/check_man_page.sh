#!/bin/bash
# A program's man page agrees with its --help: every option the help text names is documented in
# the man page and every option the man page documents is in the help text; the page renders
# without a warning.
#   check_man_page.sh PROGRAM MAN_PAGE
set -u
program=$1 page=$2
fail=0
bad() { echo "FAIL: $*"; fail=1; }

help=$("$program" --help) || bad "$program --help failed"
options() { grep -oE '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' | grep -oE -- '--?[[:alpha:]][[:alnum:]-]*' | sort -u; }
help_options=$(options <<<"$help")
# In roff a minus is written \-; the options of the page are those of its OPTIONS section.
source=$(sed 's/\\-/-/g' "$page")
page_options=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' <<<"$source" | grep -E '^\.(B|BI|BR|TP)' | options)
[[ -n $help_options ]] || bad "no options found in the help text"
[[ -n $page_options ]] || bad "no OPTIONS section in $page"
for o in $help_options; do
  grep -qxF -- "$o" <<<"$page_options" || bad "$o of --help is not documented in $page"
done
for o in $page_options; do
  grep -qxF -- "$o" <<<"$help_options" || bad "$o of $page is not in --help"
done

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
[[ -z $warnings ]] || bad "man warns about $page: $warnings"
rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | col -b)
grep -q "^NAME" <<<"$rendered" && grep -q "^SYNOPSIS" <<<"$rendered" || bad "$page lacks NAME or SYNOPSIS"
exit $fail
