; Silent cuts of the classic reading: uncounted warnings by default (on
; standard error too under --gnu-errors), nothing under --classic; bytes
; and exit status stay.
        add     16, $6          ; 5-bit signed field: -16
        add     1, $32          ; register 0
        movea   12abc, $0, $6   ; reads 12
        mov     $5x, $6         ; reads $5
        bne     3               ; odd displacement
        halt    extra           ; dropped
        jmp     [$1], $2        ; the pair form: $2 is encoded, no warning
        dh.     0x12345         ; keeps 0x2345
        db.     300             ; keeps 0x2C
        nop                     ; at an odd location
df. LIMIT 5 junk
df. 12 7
lb. twice
lb. twice
df. N 1
df. N 2
lb. N
