# A grown branch pushes an earlier one out of range.
	bne y2
	bne z2
	.space 248
y2:	.space 300
z2:	nop
# Near, far and backward targets.
start:	be near
	.space 200
near:	bne far
	.space 300
far:	br start
	bz 1f
1:	nop
	jr start
# A value made from addresses follows the branches' growth.
s2:	bne far2
e2:	.set size2, e2 - s2
	.word size2
	.space 300
far2:	nop
