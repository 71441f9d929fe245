/* crt0.s: start-up code for a small V810 board, as GNU as reads it.
   The ROM is 512 bytes at 0x07000000; the reset vector is at its end. */
	.macro la reg, addr
	movhi hi(\addr), r0, \reg
	movea lo(\addr), \reg, \reg
	.endm

	.equ WRAM, 0x05000000
	.global _start
	.type _start, @function

	.section .text
_start:
	ldsr r0, psw                # interrupts as the reset left them
	la sp, 0x0500FFFC
	la r6, data_start           # copy the data from ROM to work RAM
	la r7, WRAM
	movea data_end - data_start, r0, r8
1:	ld.b 0[r6], r9
	st.b r9, 0[r7]
	add 1, r6
	add 1, r7
	add -1, r8
	bnz 1b
	jal main
2:	halt
	br 2b
	.size _start, . - _start

main:
	mov 5, r10
	jmp [lp]

	.section .rodata
data_start:
	.ascii "HELLO"
data_end:

	.section .vectors, "ax"
	.fill 16, 1, 0xFF
reset:
	la r1, _start
	jmp [r1]
	.fill 6, 1, 0xFF
