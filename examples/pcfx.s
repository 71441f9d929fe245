; pcfx.s: a PC-FX style program. PC-FX code is loaded to and runs at 0x8000,
; so base. makes every label, '.', @ target and link address count from
; there; the image itself still starts at offset 0.
;   tarvo examples/pcfx.s -o pcfx.bin --symbols=pcfx.sym
base. 0x8000
start:
        movhi   hi(stack_top), r0, sp
        movea   lo(stack_top), sp, sp
        movhi   hi(message), r0, r6
        movea   lo(message), r6, r6
        jal     @count              ; r10 = length of the text at r6
1:      halt
        br      @1b

; count: the length of the zero-terminated text at r6, in r10.
count:  mov     r0, r10
1:      ld.b    0[r6], r11
        cmp     0, r11
        be      @2f
        add     1, r6
        add     1, r10
        br      @1b
2:      jmp     [lp]

message:
        ds.     "PC-FX"
        db.     0
        align.  4, 0
table:  dw.     (start), (count), (message)
df. stack_top 0x00200000
