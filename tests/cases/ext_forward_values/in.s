; Forward fields whose names are defined later, by numbers or by
; expressions that lack names themselves, in any letter case.
        dw. (A+B), (b*2)        ; waits for two names, then for one
        dh. hi(Far), lo(FAR)    ; halves of a value with bit 15 set
        db. (Small), 0
        .call (Routine)         ; one name: the pair waits for it
        .jump (routine+4)       ; an expression
        bne @Loop
        jr @LOOP
df. A (B+C)                     ; A's value lacks B and C: its users wait for them too
df. B 0x10
df. C (2*3)
lb. loop
        nop
lb. Routine
df. Far 0x12348000
df. Small (300-299)
        dw. (Junk+Later)        ; bound to text that reads as no expression:
df. Junk 0x12zz                 ; the error comes when the last name is defined
df. Later 1
        dw. (Never+A)
