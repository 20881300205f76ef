# Sourced by the interactive zsh that zsh-complete.zsh drives: the completion
# system with the project's functions first, and every match it adds printed
# between two marks.
PROMPT=
RPROMPT=
fpath=("$KVM_ZSH_COMPLETIONS" $fpath)
autoload -U compinit
compinit -u -D
bindkey '^I' complete-word
zstyle ':completion:*' insert-tab false
mark() { print -r -- '<<MARK>>' }
compprefuncs=(mark)
comppostfuncs=(mark exit)
# Calls that only ask (-O, -A, -D) add nothing; the others' matches are
# printed with what the function set aside of the word (IPREFIX).
compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then
    builtin compadd "$@"
    return
  fi
  local -a matches
  builtin compadd -A matches "$@"
  local match
  for match in $matches; do
    print -r -- "<<MATCH:$IPREFIX$match>>"
  done
  builtin compadd "$@"
}
print -r -- '<<READY>>'
