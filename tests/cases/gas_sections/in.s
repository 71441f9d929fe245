	.text
	nop
	bne other            # another section: two bytes, the distance must fit
	.section .rodata
	.byte 1, 2, 3
	.section .vectors,"ax"
	.hword 0xAAAA
	.section .note       # not loaded: no bytes in the image
	.byte 0x55
	.pushsection .data
other:	.byte 7
	.popsection
	.byte 0x66
	.previous
	.hword 0xBBBB
	.bss
	.space 4
bsslab:
	.data
	.word bsslab
