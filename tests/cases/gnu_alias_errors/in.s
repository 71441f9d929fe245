# Register aliases used where GNU as refuses them: one mistake a line.
	.equiv	r_tmp, r14
	.set	second, r_tmp
	NUM = 5
	.equiv	r_tmp, r15		# .equiv again
	.set	r_tmp, r16		# .set of an .equiv name
	sub	second, r1		# an alias of an alias
	mov	r1, NUM			# a number where only a register goes
	sub	NUM, r1
	ld.w	0[NUM], r1
	jmp	[NUM]
	ldsr	NUM, psw
	movea	1, NUM, r1
	not	r1, second
	.macro	m reg
	add	1, \reg
	.endm
	m	NUM
	mov	second, r1		# an immediate that names a register: no value
