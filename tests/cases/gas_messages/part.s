	nop
	.macro bad a
	add \a, r1
	.endm
	bad r40
