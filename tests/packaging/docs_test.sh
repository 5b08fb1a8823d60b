#!/usr/bin/env bash
# The manual pages and completions against the programs themselves: every
# option that --help lists (of the runner, each subcommand and the fleet)
# has its entry in the manual page and completes in bash, and nothing else
# does; the subcommands, task labels, formats and checks complete as the
# programs' own messages list them; files complete for --db; the pages pass
# man's warnings and the zsh completion parses (zsh_completion_test.sh runs it).
#   docs_test.sh DOCS_DIR VANTREL_CLI [VANTREL_MPI]
set -u
docs=$1
cli=$2
mpi=${3:-}
status=0
fail() { echo "FAIL: $*"; status=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The options --help lists, one a line, sorted.
help_options() { "$@" --help | sed -n 's/^  \(-h, \)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p' | sort; }
# The words after "valid ...: " in the message refusing a value.
valid_words() { "$@" 2>&1 >/dev/null | sed -n 's/.*; valid [a-z]*: //p' | head -1 | tr ' ' '\n' | sort; }
# The options of a page's OPTIONS section.
page_options() {
    sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$1" | sed -n '/^\.TP/{n;s/^\(\\fB\\-h,\\fR \)\{0,1\}\\fB\\-\\-\([a-z][a-z\\-]*\)\\fR.*/--\2/p}' |
        sed 's/\\-/-/g' | sort
}
# complete_bash SCRIPT WORDS...: what bash completes the last word to (the
# first word names the program).
complete_bash() {
    bash --norc --noprofile -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        function=$(complete -p "$1" | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
        "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        printf "%s\n" "${COMPREPLY[@]}"' bash "$@" | sed '/^$/d' | sort
}
same() {  # same WHAT EXPECTED_FILE ACTUAL_FILE
    diff <(cat "$2") <(cat "$3") >"$work/diff" || fail "$1: $(tr '\n' ' ' <"$work/diff")"
}

# command page program words...: the command's help against its page and bash completion.
check_command() {
    local page=$1 program=$2
    shift 2
    help_options "$program" "$@" >"$work/help"
    [ -s "$work/help" ] || fail "$page: --help lists no option"
    page_options "$docs/man1/$page.1" >"$work/page"
    same "$page.1 against --help" "$work/help" "$work/page"
    complete_bash "$docs/bash-completion/$(basename "$program")" "$(basename "$program")" "$@" -- >"$work/completed"
    same "bash completion of $page against --help" "$work/help" "$work/completed"
    if command -v man >/dev/null; then
        LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$docs/man1/$page.1" 2>"$work/warnings" >/dev/null
        [ ! -s "$work/warnings" ] || fail "$page.1: $(head -3 "$work/warnings" | tr '\n' ' ')"
        # Columns are characters, whatever the locale the suite runs in.
        wide=$(export LC_ALL=C.UTF-8; MANWIDTH=80 man -E UTF-8 -l -Tutf8 "$docs/man1/$page.1" 2>/dev/null | col -bx |
            perl -CSD -lne 'print if length > 80' | head -1)
        [ -z "$wide" ] || fail "$page.1 is wider than 80 columns: $wide"
    fi
}

check_command vantrel-cli "$cli"
check_command vantrel-cli-history "$cli" history
check_command vantrel-cli-compare "$cli" compare
[ -z "$mpi" ] || check_command vantrel-mpi "$mpi"

bash_cli=$docs/bash-completion/vantrel-cli
printf '%s\n' compare history >"$work/expected"
complete_bash "$bash_cli" vantrel-cli '' | grep -v '^--' >"$work/completed"
same "subcommands" "$work/expected" "$work/completed"
printf '%s\n' --format >"$work/expected"
complete_bash "$bash_cli" vantrel-cli --fo >"$work/completed"
same "vantrel-cli --fo" "$work/expected" "$work/completed"
# An option already given is not offered again.
complete_bash "$bash_cli" vantrel-cli --format csv --fo >"$work/completed"
[ ! -s "$work/completed" ] || fail "--format offered twice"

# Values, as the programs' own refusals list them, in both forms of the option.
valid_words "$cli" --task x >"$work/expected"
complete_bash "$bash_cli" vantrel-cli --task '' >"$work/completed"
same "--task LABEL" "$work/expected" "$work/completed"
complete_bash "$bash_cli" vantrel-cli history --task = '' >"$work/completed"
same "history --task=LABEL" "$work/expected" "$work/completed"
valid_words "$cli" --format x >"$work/expected"
complete_bash "$bash_cli" vantrel-cli compare a b --format '' >"$work/completed"
same "compare --format" "$work/expected" "$work/completed"
valid_words "$cli" --verify x >"$work/expected"
complete_bash "$bash_cli" vantrel-cli --verify '' >"$work/completed"
same "--verify" "$work/expected" "$work/completed"
# Thread counts as a sweep runs them on the processors the shell may use
# (nproc, here a stand-in saying 12), and all; no option that one given excludes.
mkdir "$work/bin" && printf '#!/bin/sh\necho 12\n' >"$work/bin/nproc" && chmod +x "$work/bin/nproc"
PATH="$work/bin:$PATH" complete_bash "$bash_cli" vantrel-cli --threads '' | tr '\n' ' ' >"$work/completed"
[ "$(cat "$work/completed")" = "1 12 2 4 8 all " ] || fail "--threads T|all offers $(cat "$work/completed")"
complete_bash "$bash_cli" vantrel-cli --sweep --s >"$work/completed"
printf '%s\n' --save-grid --save-primes >"$work/expected"
same "vantrel-cli --sweep --s (not --sweep again, nor --stress)" "$work/expected" "$work/completed"
complete_bash "$bash_cli" vantrel-cli --stress 1h --threads 2 --e >"$work/completed"
printf '%s\n' --events >"$work/expected"
same "vantrel-cli --stress 1h --threads 2 --e (not --each-core)" "$work/expected" "$work/completed"

# Files, for the options that take one and for compare's results.
mkdir "$work/files" && touch "$work/files/runs.db" "$work/files/speedup.svg"
echo "$work/files/runs.db" >"$work/expected"
complete_bash "$bash_cli" vantrel-cli --db "$work/files/r" >"$work/completed"
same "--db FILE" "$work/expected" "$work/completed"
complete_bash "$bash_cli" vantrel-cli compare "$work/files/r" >"$work/completed"
same "compare BASE" "$work/expected" "$work/completed"
echo "$work/files/speedup.svg" >"$work/expected"
complete_bash "$bash_cli" vantrel-cli --sweep --plot "$work/files/" >"$work/completed"
same "--plot FILE.svg" "$work/expected" "$work/completed"

if command -v zsh >/dev/null; then
    for file in "$docs"/zsh/_*; do
        zsh -n "$file" || fail "$file does not parse"
    done
fi
[ "$status" -eq 0 ] && echo "ok"
exit "$status"
