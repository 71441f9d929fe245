# Names of a section /DISCARD/ drops point nowhere: bytes of the image that
# read one are an error, in the same file as in another (ld's "defined in
# discarded section"); a debug section may still name them.
	.global	_start
_start:
	.word	gone
	movhi	hi(also), r0, r6
	.section .junk, "a"
	.global	gone
gone:	.word	0x12345678
also:	.word	0
	.section .debug_info
	.word	gone
