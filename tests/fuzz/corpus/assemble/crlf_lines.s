nop
foo

bar
nop