# Calls and data across the files; hook is weak and defined nowhere.
	.text
	.global	main
main:
	movhi	hi(score), r0, r6
	movea	lo(score), r6, r6
	ld.w	0[r6], r7
	jal	add_one
	br	on_exit
	bne	main
	jr	_start
	.data
	.global	score
score:	.word	100
ptrs:	.word	main, add_one, score + 4, hook
	.weak	hook
