	.global	helper
helper:
	jmp	[lp]
	.weak	spare
spare:
	nop
