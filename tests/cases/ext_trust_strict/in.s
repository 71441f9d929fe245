; Under --strict: what the classic reading drops, and the warnings as
; errors; the object file, an older one too, is removed.
x:      halt extra
        jmp [r1], r2            ; the pair form: r2 is encoded, nothing dropped
        movea 1, r1, r2, r3
        nop 5
        ds. "AB", "C"
        inc. "f.s" x
        df. Z 5 junk
        lb. y junk
        .jump x y
        dw. 1, 2 ; a comment is no dropped text
        bne x
        bnz 1f
1:      df. N 0x10+1
        movea (N*2), r0, r6
        movea N, r0, r6
        org. 0x8000
far:    ld.w lo(far)[r10], r1
        movea lo(far + 4), r0, r1
        ld.w 0x8000[r10], r1 ; a plain number out of range still fails
        ori lo(0x12345), r0, r1
