# Names defined nowhere (each reported once, at its first use), an ASSERT
# that fails and a region too small.
	.global	_start
_start:
	jal	missing
	movhi	hi(table), r0, r6
	.space	12
	jal	missing
	.word	table
