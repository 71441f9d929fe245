	.long ., .           # '.' is the item's own address
	.set here, .         # keeps this address
	x = 1
	.long x
	.set x, x + 1        # a name may be set again
	.long x, late        # late: its value at the end
	.equ late, 5
	.ifdef BASE
	.long BASE + 1
	.endif
1:	.long 1b, 1f
1:	.long here
	.equiv fresh, 3
	.long fresh
