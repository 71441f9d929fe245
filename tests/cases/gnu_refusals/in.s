# What GNU as refuses, one a line.
	ld.b	[r2], r1
	ld.h	[r2], r1
	ld.w	[r2], r1
	in.b	[r2], r1
	in.h	[r2], r1
	in.w	[r2], r1
	caxi	[r2], r1
	st.b	r1, [r2]
	st.h	r1, [r2]
	st.w	r1, [r2]
	out.b	r1, [r2]
	out.h	r1, [r2]
	out.w	r1, [r2]
	ldsr	r1, sr14
	ldsr	r1, pir
	ldsr	r1, sr26
	ldsr	r1, -1
	stsr	sr8, r1
	setf	f, r1
	setf	-1, r1
	di
	ei
	movnbsu
	ld.h	2[gp]]], r10
	jmp	[lp]]]
	jmp
	jmp	[r2], r3
	.skip	2, 3, 4
	.offset	4, 7
