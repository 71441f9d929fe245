# The V810 port's data areas, each with the offset function that reaches it.
	.text
	movea	sdaoff(s_word), gp, r10
	ld.w	sdaoff(s_room)[gp], r11
	ld.h	tdaoff(t_half)[tp], r12
	st.b	r13, tdaoff(t_room + 1)[tp]
	movea	zdaoff(z_byte), r0, r14
	in.w	zdaoff(z_room)[r0], r15
	movea	zdaoff(0x12345), r0, r16	# a number: its low half
	ld.b	sdaoff(ro_s)[gp], r17
	ld.b	zdaoff(ro_z)[r0], r18
	.hword	sdaoff(0x1234), tdaoff(0x10)	# numbers, written unchanged
	.hword	sdaoff(s_word), tdaoff(t_half), zdaoff(z_byte)
	.sdata
s_word:	.word	0x11111111
	.tdata
t_half:	.hword	0x2222
	.zdata
z_byte:	.byte	0x33
	.rosdata
ro_s:	.byte	0x44
	.rozdata
ro_z:	.byte	0x55
	.sbss
s_room:	.space	4
	.tbss
t_room:	.space	2
	.zbss
z_room:	.space	8
	.section .sdata			# continues it
	.byte	0x66
	.local	c_s
	.scomm	c_s, 3, 4		# room in .sbss, under c_s
	.local	c_t
	.tcomm	c_t, 2
	.local	c_z
	.zcomm	c_z, 1
	.previous			# .zbss, where .zcomm took room
	.space	1
	.text
	movea	sdaoff(c_s), gp, r19
	movea	tdaoff(c_t), tp, r20
	movea	zdaoff(c_z), r0, r21
	.offset	0x40			# .org 0x40, zeros
	nop
