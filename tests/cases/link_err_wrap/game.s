# A section that would run past the 32-bit address space.
	.global	_start
_start:	nop
