# Register aliases in every operand position, set every way GNU as sets them.
	.equiv	r_tmp, r14
	.set	base, gp
	.equ	acc, R20
	cnt = r7
	.set	sreg, psw
	.equ	cond, nz
	NUM = 5
	mov	r_tmp, acc		# reg1, reg2
	mov	NUM, acc		# a number where mov takes an immediate
	add	NUM, r_tmp
	cmp	NUM, cnt
	shl	NUM, cnt
	shr	r_tmp, cnt
	sar	NUM, cnt
	sub	r_tmp, acc
	movea	5, base, r_tmp		# imm16, reg1, reg2
	addi	-1, r_tmp, acc
	ld.w	4[base], r_tmp		# disp[reg1], reg2
	st.h	r_tmp, 2[base]]		# GNU's second ]
	in.b	1[r_tmp], acc
	out.w	acc, 8[r_tmp]
	caxi	0[base], acc
	jmp	[r_tmp]
	jmp	[cnt]]
	ldsr	r_tmp, sreg		# system register by alias
	stsr	sreg, acc
	setf	cond, r_tmp		# condition by alias
	cvt.ws	r_tmp, acc
	xb	r_tmp
	.irp	r, r_tmp, acc		# .irp and macro arguments
	not	\r, cnt
	.endr
	.macro	clear reg
	mov	r0, \reg
	.endm
	clear	acc
