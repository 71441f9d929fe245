inc. "a.s"
inc. "in.s"
inc. "b.s"
