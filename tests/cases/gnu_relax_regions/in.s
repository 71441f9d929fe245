# GNU as' relax loop does not assume that a target past an alignment moved
# with the branch: the bge ends exactly 254 bytes from t, and stays short.
	.text
	bne	t		# 252 away at first; grows once bne far has
	bge	t		# 250 away at first, 254 at the end: short
	bne	far		# grows at once
	.space	240
	.balign	8		# pads 2, then 6, then 2 again
	.space	4
t:	nop
	.space	300
far:	nop
