	.text
	.global	main
main:
	movea	lo(__flags), r0, r7
	movea	lo(__max), r0, r8
	jmp	[lp]
	.section .rodata.b, "a"
	.byte	0xb1
	.section .rodata.a, "a"
	.byte	0xa1, 0xa2
	.data
	.global	value
value:	.word	__text_size, __bss_end, __stack_top, __data_start
	.comm	shared, 4, 4
	.bss
buf:	.space	6
	.global	spare
	.set	spare, 0x1234
