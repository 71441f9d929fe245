	ld.w -4[sp], r10
	st.h r10, 0x10[gp]
	in.b 0[r5], r6
	movhi hi(0x12348000), r0, r7
	movea lo(0x12348000), r7, r7
	jmp [lp]
	ldsr r6, psw
	stsr chcw, r7
	setf nz, r8
	trap 5
	reti
	brkret
	stby
	breakpoint
	cli
	sei
	notbsu
	xb r9
	addf.s r1, r2
	mov 99, r1
	jal .+8
	caxi 2[r1], r2
	halt
	ldsr r6, 24
	movea lo(x)+4, r0, r1
x:	out.w r1, hi0(0x7654321)[r2]
