; GNU labels: NAME: defines as lb. does, the rest of the line is a line of
; its own; N: local labels with @Nb/@Nf and Nb/Nf in expressions.
start:  mov     1, r1
a: b:   nop
empty:
1:      bne     @1b             ; the 1: on this very line
        br      @1f
        br      @2f
1:      dw.     (1b), (1f), (2f-1b)
2:      db.     1, 2
1:      jmp     [lp]
        br      @1b
        bne     @9b             ; no 9: yet: nothing can mend it
        bne     @9f             ; no 9: ever
01:     br      @1b             ; 01 is 1
end:    .jump   (start)
