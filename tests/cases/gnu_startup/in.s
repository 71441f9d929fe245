; A Virtual Boy start-up file written for GNU as and brought over by
; renaming directives (.section -> org./base., .align -> align., .fill ->
; fill., .word -> dw.): colon labels, register names, a copy loop with local
; labels, ldsr r6, psw, a routine assembled to run from work RAM, and the
; vector table at the end of a 64 KiB image.
_start:
        movhi   hi(0x0500FFFC), r0, sp
        movea   lo(0x0500FFFC), sp, sp
        movhi   hi(ram_code_lma), r0, r7        ; copy the RAM routine
        movea   lo(ram_code_lma), r7, r7
        movhi   hi(ram_code), r0, r6
        movea   lo(ram_code), r6, r6
        movea   (ram_code_end-ram_code), r0, r8
1:      ld.b    0[r7], r9
        st.b    r9, 0[r6]
        add     1, r6
        add     1, r7
        add     -1, r8
        bne     @1b
        mov     r0, r6
        ldsr    r6, psw
        movhi   hi(ram_code), r0, r1
        movea   lo(ram_code), r1, r1
        jal     @1f                             ; lp = the next line
1:      add     12, lp                          ; return past the jump
        jmp     [r1]
2:      halt
        br      @2b

        align.  4
ram_code_lma:
base.   0x05000100
ram_code:
        movea   0x55, r0, r10
3:      add     -1, r10
        bne     @3b
        jmp     [lp]
ram_code_end:

org.    0xFE00                                  ; interrupt vectors
base.   0xFFFFFE00
        reti
        fill.   7, 0x0000, 2                    ; each vector is 16 bytes
        align.  16
        reti
        align.  16
org.    0xFFF0                                  ; the reset vector
        movhi   hi(_start), r0, r1
        movea   lo(_start), r1, r1
        jmp     [r1]
        fill.   6, 0xFF
