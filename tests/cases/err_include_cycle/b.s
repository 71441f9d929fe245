inc. "in.s"
inc. "./a.s"
nop
