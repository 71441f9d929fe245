	.text
	.global	add_one
add_one:
	add	1, r7
	jmp	[lp]
	.global	on_exit
on_exit:
	jmp	[lp]
	.section .rodata
message:
	.asciz	"hi"
