	nop
	mov r99, r1
	.word 5
