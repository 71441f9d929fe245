	nop
# 10 "src/game.c"
	.nosuchdirective 1
	bogus r1
	mov 99, r1
	add r1, r99
	.err
	.error "custom"
	.warning "careful"
	.print "hello"
	.equiv dup, 1
	.equiv dup, 2
	.word undefined_name
	.org 0
	.include "part.s"
	.include "missing.s"
	ld.q 0[r1], r2
	.bss
	.byte 3
