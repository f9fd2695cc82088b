# zsh -f complete.zsh FOLDER LINE: what zsh's completion offers at the end of LINE, with the
# completion functions of FOLDER in fpath. zsh completes only in an interactive shell, so one
# runs on a pseudo-terminal (zpty), the line is typed with a Tab after it, and every word is
# printed as completion adds it, after "<offered>".
zmodload zsh/zpty || exit 3
folder=$1 line=$2
setup=$folder/setup.zsh
cat >$setup <<SETUP
PS1= PS2= RPS1=
unset zle_bracketed_paste
fpath=(${(q)folder} \$fpath)
autoload -Uz compinit && compinit -u -D
zstyle ':completion:*' list-grouped false
zstyle ':completion:*' insert-tab false
bindkey '^I' complete-word
compadd() {
    local -a options found
    local word
    for word in "\$@"; do
        [[ \$word == (-|--) ]] && break
        options+=(\$word)
    done
    if (( \${options[(I)-[OAD]]} )); then
        builtin compadd "\$@"
        return
    fi
    builtin compadd -O found "\$@"
    (( \$#found )) && print -rl -- "<offered>"\${^found}
    builtin compadd "\$@"
}
_tarnavel_done() { print -r -- '<done>' }
comppostfuncs=(_tarnavel_done)
print -r -- '<ready>'
SETUP
zpty t zsh -f -i
zpty -w t "source ${(q)setup}"
zpty -r t out '*<ready>*' || exit 4
zpty -w -n t "$line"$'\t'
zpty -r t out '*<done>*' || exit 5
print -r -- "${out//$'\r'}"
zpty -d t
