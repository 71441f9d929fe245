	.macro pair a:req, b=2
	.byte \a, \b
	.endm
	.macro rest first, others:vararg
	.byte \first
	.ifnb \others
	.byte \others
	.endif
	.endm
	.MACRO count reg=r10, n=3
	mov \n, \reg
lp\@:	add -1, \reg
	bne lp\@
	.ENDM
	.macro early x
	.byte \x
	.exitm
	.byte 0xFF
	.endm
	pair 1
	pair 3, 4
	pair b=6, a=5
	rest 7, 8, 9
	rest 10
	count
	COUNT r11, n=2
	early 11
	.rept 2
	.byte 12
	.endr
	.irp v, 13, 14
	.byte \v
	.endr
	.irpc c, 12
	.byte \c
	.endr
	.if 2 > 1
	.byte 15
	.elseif 1
	.byte 0xFF
	.else
	.byte 0xFF
	.endif
	.ifc abc, abc
	.byte 16
	.endif
	.ifnc a, b
	.byte 17
	.endif
	.ifeq 0
	.byte 18
	.endif
	.ifb
	.byte 19
	.endif
	.purgem early
	.macro early
	.byte 20
	.endm
	early
	.if 0
	this line is not read
	.endif
	.ifeqs "ab", "a\x62"
	.byte 21
	.endif
	.ifnes "ab", "ab"
	.byte 0xFF
	.endif
