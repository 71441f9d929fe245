; Forms every other assembler takes: blanks inside parentheses, comparison
; and logic, a name's whole value inside (...), a label right before the
; instruction, system registers by number in GNU order.
        df. WRAM_END 0x0500FFFF
        df. TOP (WRAM_END + 1 - 16)
        df. N 0x10+1
        movea lo(TOP), r0, r6           ; 0xFFF0
        movhi hi( TOP ), r6, r6         ; 0x0501
        movea (N*2), r0, r7             ; 34: the whole value
        movea N, r0, r7                 ; 16: a bare name reads as before
        dw. (TOP - WRAM_END), (3 <= 4 && 2 == 2), (1 || 1/1), (!0 + !5)
        dw. (-1 < 0), (-1 > 0), (5 != 5), (4 >= 4), (2 | 1 == 1), (7 & 3 != 0)
loop:add -1, r6
        bne @(loop - 2 + 2)
        ldsr r6, 5
        ldsr 5, r6
        stsr 5, r7
        stsr r7, 24
