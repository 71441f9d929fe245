; Operands that the classic reading takes as displacements, though they
; almost surely mean addresses: warned, not counted; the bytes stay.
loop:   add -1, r6
        bne loop        ; the label's address as a displacement
1:      bnz 1b          ; the digits as a displacement
        jr 2f
2:      bne @loop       ; as meant
        df. DISP 4
        br DISP         ; a constant is a displacement: no word
