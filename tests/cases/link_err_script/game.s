	.global	_start
_start:
	halt
