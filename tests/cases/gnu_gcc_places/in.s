	.file	"game.c"
	.text
	.global	_main
_main:
	add	r1, r99
#APP
# 12 "game.c" 1
	mov	r1, r98
# 0 "" 2
#NO_APP
	add	r2, r97
# 0 "lib.h"
	add	r3, r96
	.file	"other.c"
	add	r4, r95
#APP
# 40 "game.c" 1
	.rept	2
	sub	r5, r94
	.endr
# 0 "" 2
# 50
	add	r4, r93
#NO_APP
	.if	1
	.else
	nop