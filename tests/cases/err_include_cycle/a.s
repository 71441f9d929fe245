nop
inc. "./b.s"
