# bash completion for kavrimo-cli.
#
# The commands and each command's options are asked of the program itself (kavrimo-cli --help,
# kavrimo-cli COMMAND --help) when completing, so they are always those of the copy being run. An
# option's values are taken from its help line ("--template FILE", "--range MIN MAX"): FILE-like
# values complete as file names, DIR as folders, numbers not at all.

_kavrimo_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local program=${COMP_WORDS[0]}
  [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}
  COMPREPLY=()

  if ((COMP_CWORD == 1)); then
    local commands
    commands=$("$program" --help 2>/dev/null | awk '/^Commands:$/ { f = 1; next } /^$/ { f = 0 } f { print $1 }')
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
    return
  fi

  # The command's options, one "NAME VALUE..." per line ("-q" and "--quiet" on lines of their own).
  local command=${COMP_WORDS[1]} options
  options=$("$program" "$command" --help 2>/dev/null | awk '
    /^Options:$/ { f = 1; next }
    /^$/ { f = 0 }
    f && /^ +-/ {
      sub(/^ +/, ""); sub(/  .*/, "")
      n = split($0, w, " "); values = ""
      for (i = 1; i <= n; i++) if (w[i] !~ /^-/) values = values " " w[i]
      for (i = 1; i <= n; i++) if (w[i] ~ /^-/) { sub(/,$/, "", w[i]); print w[i] values }
    }')
  [[ -n $options ]] || return

  # Is the word being completed the value of an option? Walk the words before it.
  local i word name values pending=()
  for ((i = 2; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if ((${#pending[@]})); then
      pending=("${pending[@]:1}")
      continue
    fi
    [[ $word == -- ]] && break
    [[ $word == -* && $word != *=* ]] || continue
    while read -r name values; do
      [[ $name == "$word" ]] && read -r -a pending <<<"$values"
    done <<<"$options"
  done

  local kind=${pending[0]:-}
  if [[ -z $kind && $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(cut -d' ' -f1 <<<"$options")" -- "$cur")
    return
  fi
  case $kind in
    DIR) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
    "" | FILE | GRID | IMAGE | INPUT | OUTPUT | PNG) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    *) ;;  # a number or another kind of value: nothing to offer
  esac
}
complete -F _kavrimo_cli kavrimo-cli
