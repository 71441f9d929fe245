lb. entry
nop
inc. "lib/deep.s"
bogus
