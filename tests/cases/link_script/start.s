# The start-up code: first in .text by KEEP; its own .text comes last.
	.section .text.start, "ax"
	.global	_start
_start:
	movhi	hi(__data_load), r0, r6
	movea	lo(__data_load), r6, r6
	jal	main
	jr	helper
	.text
helper:
	jmp	[lp]
	.section .comment
	.ascii	"dropped"
