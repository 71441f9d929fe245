	.global	_start
_start:
	jal	helper
	.weak	spare
spare:
	halt
