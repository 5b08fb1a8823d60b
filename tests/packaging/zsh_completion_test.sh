#!/usr/bin/env bash
# The zsh completion run: a zsh in a pseudo-terminal (zpty) completes command
# lines, a stand-in for compadd reports what it offers with its descriptions:
# an _arguments entry numbered wrongly, or a description cut at a colon, fails.
#   zsh_completion_test.sh ZSH_DIR
set -u
dir=$(cd "$1" && pwd)
command -v zsh >/dev/null || { echo "SKIP: no zsh (tools/setup-debian.sh packaging installs it)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

cat >"$work/offers.zsh" <<'EOF'
# offers.zsh DIR LINE: what zsh offers at the end of LINE, "word -- description" a line.
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "stty columns 1000; fpath=($1 \$fpath); autoload -U compinit; compinit -u -D"
zpty -w z 'compadd () {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return $?; fi
  local -a hits descriptions
  if (( $@[(I)-d] )); then
    local named=${@[$[${@[(i)-d]}+1]]}
    if [[ $named == \(* ]]; then eval "descriptions=$named"; else descriptions=("${(@P)named}"); fi
  fi
  builtin compadd -A hits -D descriptions "$@"
  local i
  for i in {1..$#hits}; do print -r -- "<<$hits[$i] -- ${${descriptions[$i]:-}##$hits[$i] #-- #}>>"; done
}'
zpty -w z 'bindkey "^I" complete-word; PROMPT=""; print -r -- "<<READY>>"'
repeat 2 zpty -r z line '*<<READY>>*'
zpty -n -w z "$2"$'\t'
zpty -w z $'\C-u print -r -- "<<DONE>>"'
while zpty -r z line; do
  [[ $line == *'<<DONE>>'* && $line != *print* ]] && break
  [[ $line == *'<<'?*' -- '*'>>'* ]] && print -r -- "${${line#*<<}%>>*}"
done
zpty -d z
EOF
offers() { (cd "$work/files" && timeout 20 zsh -f "$work/offers.zsh" "$dir" "$1") | sed 's/ -- $//' | sort -u; }
mkdir "$work/files" && touch "$work/files/base.json"

# A description keeps its colons, and the values follow it.
offers 'vantrel-cli --ta' >"$work/got"
grep -qx -- '--task -- Task size: 100K 500K .* 200M, in either case' "$work/got" || fail "--task's description: $(cat "$work/got")"
offers 'vantrel-cli --task ' >"$work/got"
[ "$(tr '\n' ' ' <"$work/got")" = "$(printf '%s\n' 100K 500K 1M 2M 3M 4M 5M 10M 20M 30M 40M 50M 60M 70M 80M 90M 100M 110M 120M 130M 140M 150M 200M | sort | tr '\n' ' ')" ] \
    || fail "--task's labels: $(tr '\n' ' ' <"$work/got")"
offers 'vantrel-cli ' >"$work/got"
grep -qx 'compare -- Two results side by side, setting by setting, with a significance test and a regression gate' \
    "$work/got" || fail "the subcommands: $(cat "$work/got")"
# compare's operands, each in its place: BASE and NEW are files, a third is none.
for line in 'vantrel-cli compare ' 'vantrel-cli compare base.json '; do
    offers "$line" >"$work/got"
    grep -q '^base.json' "$work/got" || fail "'$line' offers no file: $(tr '\n' ' ' <"$work/got")"
done
offers 'vantrel-cli compare base.json base.json ' >"$work/got"
grep -q '^base.json' "$work/got" && fail "a third operand of compare is offered files"
[ "$status" -eq 0 ] && echo "ok"
exit "$status"
