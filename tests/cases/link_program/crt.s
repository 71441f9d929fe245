# Start-up file: the stack from the layout, a call into game.s, and a
# weak exit hook that lib.s overrides.
	.text
	.global	_start
_start:
	movhi	hi(__stack), r0, sp
	movea	lo(__stack), sp, sp
	jal	main
	br	_start
	.weak	on_exit
on_exit:
	halt
	jmp	[lp]
