#!/usr/bin/env zsh
# Prints the matches zsh's completion offers for LINE, one a line, typed
# with <TAB> at its end into an interactive zsh on a pseudo-terminal.
# Usage: KVM_ZSH_COMPLETIONS=DIR zsh-complete.zsh LINE
zmodload zsh/zpty
local out
zpty complete zsh -f -i
zpty -w complete "source ${(q)0:a:h}/zsh-complete-setup.zsh"
zpty -r complete out '*<<READY>>*'
zpty -n -w complete "$1"$'\t'
zpty -r complete out '*<<MARK>>*<<MARK>>*'
zpty -d complete
print -r -- $out | grep -ao '<<MATCH:[^<>]*>>' | sed -e 's/^<<MATCH://' -e 's/>>$//'
