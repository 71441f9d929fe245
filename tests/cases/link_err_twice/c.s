# A second global helper: ld's multiple definition. A second weak
# spare is no error.
	.global	helper
helper:
	nop
	.weak	spare
spare:
	halt
