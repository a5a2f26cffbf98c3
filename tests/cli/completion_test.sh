#!/usr/bin/env bash
# The bash completion of qor-cli against the program itself: for every command, each flag its
# --help lists is offered, and --protocol and --progress complete to their values. The two
# helpers it takes from bash-completion are stood in for, so the package need not be installed.
#   completion_test.sh QOR_CLI COMPLETION_FILE
set -euo pipefail
cli=$1
completion=$2

_init_completion() {
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
}
_filedir() { COMPREPLY=(FILES); }
# shellcheck source=/dev/null
source "$completion"

offered() {  # offered WORD...: what completing the last word offers, one a line
  COMP_WORDS=(qor-cli "$@")
  COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
  COMPREPLY=()
  _qor_cli
  printf '%s\n' "${COMPREPLY[@]}"
}

failed=0
expect() {  # expect WHAT OFFERED WORD
  if ! grep -qxF -- "$3" <<<"$2"; then
    echo "FAIL: $1 does not offer $3" >&2
    failed=1
  fi
}

for command in get record info open batch verify repair; do
  flags=$(offered "$command" -)
  # Flags as the usage text lists them: "-o FILE", "--resume", "--user ID --password PW", ...
  for flag in $("$cli" "$command" --help | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
    expect "qor-cli $command -" "$flags" "$flag"
  done
done
commands=$(offered "")
for command in get record info open batch verify repair --help --version; do
  expect "qor-cli" "$commands" "$command"
done
protocols=$(offered get x --protocol "")
for value in auto http tcp udp; do expect "--protocol" "$protocols" "$value"; done
expect "--progress" "$(offered get x --progress j)" json
expect "info FILE" "$(offered info "")" FILES
expect "verify FILE" "$(offered verify "")" FILES
expect "repair FILE" "$(offered repair --dry-run "")" FILES

[ "$failed" -eq 0 ] && echo "completion offers every flag of every command"
exit "$failed"
