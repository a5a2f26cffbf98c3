# bash completion for qor-cli: commands, each command's flags, their values, files and folders.

_qor_cli() {
  local cur prev words cword
  _init_completion || return

  local commands="get record info open batch verify repair"
  local transfer="--protocol --http-port --tcp-port --udp-port --max-udp --proxy --offset
    --max-rate --streams --audio-only --fast --no-fast --bypass-dns --user --password
    --save-password --config-dir --log --progress --connect-timeout --answer-timeout --data-timeout
    --stall-timeout --reconnect --help"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case "${words[i]}" in
      get|record|info|open|batch|verify|repair) command="${words[i]}"; break ;;
    esac
  done

  case "$prev" in
    --protocol) COMPREPLY=($(compgen -W "auto http tcp udp rtspu rtspt" -- "$cur")); return ;;
    --progress) COMPREPLY=($(compgen -W "line json" -- "$cur")); return ;;
    -d|--config-dir) _filedir -d; return ;;
    -o)
      if [[ $command == open ]]; then _filedir '@(asx|wax|wvx|wmx)'; else _filedir '@(asf|wmv|wma|wm)'; fi
      return ;;
    --log) _filedir; return ;;
    --start|--end) COMPREPLY=($(compgen -W "\"$(date '+%Y-%m-%d %H:%M:%S')\"" -- "$cur")); return ;;
    --http-port|--tcp-port|--udp-port|--max-udp|--proxy|--offset|--max-rate|--streams|--user|\
    --password|--connect-timeout|--answer-timeout|--data-timeout|--stall-timeout|--reconnect)
      return ;;
  esac

  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  if [[ $cur == -* ]]; then
    local flags
    case $command in
      get) flags="-o --resume --overwrite -d $transfer" ;;
      record) flags="--start --end -d $transfer" ;;
      info) flags="--json --http-port --proxy --connect-timeout --answer-timeout --config-dir
        --help" ;;
      open) flags="-o --proxy --user --password --save-password --config-dir --json --help" ;;
      batch) flags="-d $transfer" ;;
      verify) flags="--json --help" ;;
      repair) flags="--dry-run --help" ;;
    esac
    COMPREPLY=($(compgen -W "$flags" -- "$cur"))
    return
  fi
  case $command in
    info|verify|repair) _filedir '@(asf|wmv|wma|wm)' ;;
    open|batch) _filedir '@(asx|wax|wvx|wmx)' ;;
  esac
}
complete -F _qor_cli qor-cli
