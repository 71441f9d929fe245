	.long 1 + 2 * 3
	.long 8 - 2 | 1          # | binds tighter than -
	.long 6 & 3 + 1
	.long 2 < 3              # true is -1
	.long !0 + (5 > 9)
	.long 1 && 2 || 0
	.long -16 >> 60          # a logical shift of 64 bits
	.long 5 ! 1              # or-not
	.long 6 !! 3
	.long 0b101 + 010 + 'A
	.long 'B' + 1
	.long 7 <> 7
	.byte 255, -1
	.hword 0x12345
	.long (1 << 32) + 3
	.long ~0 / 2, -7 % 3, 1 << 64
