# A second unit: its .text and .sdata follow the first's; .vram is an
# orphan (after .data), .comment holds no bytes of the image.
	.text
	.global	more
more:
	jmp	[lp]
	.sdata
	.global	s_more
s_more:	.word	0x77777777
	.section .vram, "aw"
	.hword	0x8888
	.section .comment
	.asciz	"tarvo"
