halt
