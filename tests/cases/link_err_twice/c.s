# A second global helper: ld's multiple definition, and the link goes on
# to the name defined nowhere. A second weak spare is no error.
	.global	helper
helper:
	nop
	.weak	spare
spare:
	halt
	jal	nowhere
