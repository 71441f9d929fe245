#!/bin/sh
# Neovim's built-in LSP client, headless, opens a file with two errors and
# prints the diagnostics it received from tarvo --lsp. Skipped (77) without
# nvim.
set -eu
command -v nvim >/dev/null 2>&1 || { echo "nvim is not installed: skipped"; exit 77; }
tarvo=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
printf 'start:\n        movw 5, $3\n        mov $1, $2\n        jr @nowhere\n' > two.s
HOME=$scratch XDG_CONFIG_HOME=$scratch XDG_DATA_HOME=$scratch XDG_STATE_HOME=$scratch TARVO=$tarvo \
    timeout 50 nvim --headless --clean -n -c "luafile $here/neovim_session.lua" two.s > got.txt 2> err.txt || true
# The opcode and the undefined label (the name after its @), each its token.
printf '%s\n' '1:8-1:12 ERROR Invalid Opcode (movw)' '3:12-3:19 ERROR Undefined name (nowhere)' > want.txt
if ! diff want.txt got.txt; then
    cat err.txt
    exit 1
fi
