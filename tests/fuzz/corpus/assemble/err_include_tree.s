nop
inc. "lib/a.s"
.jump entry
inc. "b.s"
inc. "missing.s"
inc.
inc. noquote
inc. "c.s
halt
