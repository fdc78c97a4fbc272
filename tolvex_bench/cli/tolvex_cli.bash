# bash completion for tolvex_cli: its options, the command names and, for a command's
# arguments, the names of their values. Both lists come from the program itself
# (--help and help COMMAND), so they stay its own.
_tolvex_cli() {
  local cur prev program="${COMP_WORDS[0]}"
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD-1]}"
  case "$prev" in
    --script|--junit|--trace)
      COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --port)
      COMPREPLY=($(compgen -W "COM1 COM2 COM3 COM4 socket:// rfc2217://" -- "$cur") $(compgen -f -- "$cur")); return ;;
    --baud)
      COMPREPLY=($(compgen -W "9600 19200 38400 57600" -- "$cur")); return ;;
    --view)
      COMPREPLY=($(compgen -W "string hex" -- "$cur")); return ;;
    --sim-fault)
      return ;;
  esac
  # The command: the first word that is neither an option nor an option's value.
  local i word command="" position=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word="${COMP_WORDS[i]}"
    if [[ -n "$command" ]]; then
      [[ "$word" != -* ]] && ((position++))
      continue
    fi
    case "$word" in
      --port|--baud|--view|--script|--junit|--trace|--sim-fault) ((i++)) ;;
      -*) ;;
      *) command="$word" ;;
    esac
  done
  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$("$program" --help 2>/dev/null | grep -oE '^ +-[-a-zA-Z,]+' | tr ',' '\n' | tr -d ' ')" -- "$cur"))
    return
  fi
  if [[ -z "$command" ]]; then
    COMPREPLY=($(compgen -W "$("$program" --help 2>/dev/null | sed -nE 's/^  ([a-z][a-z0-9_]*)( .*)?$/\1/p') help ports aging" -- "$cur"))
    return
  fi
  if [[ "$command" == help && $position -eq 0 ]]; then
    COMPREPLY=($(compgen -W "$("$program" --help 2>/dev/null | sed -nE 's/^  ([a-z][a-z0-9_]*)( .*)?$/\1/p') aging" -- "$cur"))
    return
  fi
  # The names of the value at this position, as "help COMMAND" lists them.
  local names
  names="$("$program" help "$command" 2>/dev/null | sed -n "$((position + 3))p" | sed -nE 's/.*or by name: //p' |
    sed -E 's/=[0-9]+//g')"
  # Names are taken in any case, so they are offered whatever case was typed.
  local name
  COMPREPLY=()
  for name in $names; do
    [[ "${name,,}" == "${cur,,}"* ]] && COMPREPLY+=("$name")
  done
}
complete -F _tolvex_cli tolvex_cli
