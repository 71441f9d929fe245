nop
inc. "a.s
