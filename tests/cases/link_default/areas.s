# Every kind of section of the V810 port, placed by ld's own layout.
	.text
	.global	_start
_start:
	movhi	hi(__gp), r0, gp
	movea	lo(__gp), gp, gp
	movhi	hi(__tp), r0, tp
	movea	lo(__tp), tp, tp
	ld.h	sdaoff(s_val)[gp], r6
	ld.w	sdaoff(s_more)[gp], r7
	ld.h	sdaoff(s_room)[gp], r8
	ld.w	tdaoff(t_val)[tp], r9
	ld.w	tdaoff(t_room)[tp], r10
	ld.h	zdaoff(z_val)[r0], r11
	ld.h	zdaoff(z_const)[r0], r12
	jal	more
	jal	init_hw
	halt
	.section .init, "ax"
init_hw:
	jmp	[lp]
	.section .fini, "ax"
	jmp	[lp]
	.section .rodata
	.asciz	"ro"
	.data
	.word	0x11111111
	.section .ctors, "aw"
	.word	init_hw
	.section .tdata, "aw"
t_val:	.word	0x22222222
	.tbss
t_room:	.space	4
	.sdata
s_val:	.hword	0x3333
	.rosdata
	.hword	0x4444
	.sbss
s_room:	.space	2
	.bss
	.space	8
	.rozdata
z_const: .hword	0x5555
	.zdata
z_val:	.hword	0x6666
	.zbss
	.space	2
