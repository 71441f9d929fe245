	.byte 1
	.align 2
	.hword 0x1234
	.balign 8, 0xEE
	.p2align 1
	.word 0x11223344
	.fill 2, 3, 0x010203
	.space 2, 7
	.skip 1
	.zero 2
	.fill 1, 8, 0x0102030405
	.asciz "ab", "c"
	.string "\x41\102\t"
	.org 0x30, 0xAA
	.byte 9
