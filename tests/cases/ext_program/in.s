; A small ROM: one source for two boards, graphics from a binary file, a
; vector table at a fixed place, checked by assertions.
ifdef. VB
df. SCREEN  0x00000000
df. ROMSIZE 0x80
else.
df. SCREEN  0x00020000
df. ROMSIZE 0x200
endif.

macro. vector target
        movhi hi(\target), r0, r1
        movea lo(\target), r1, r1
        jmp [r1]
        fill. 6                  ; each vector takes 16 bytes
endm.

start:  movhi hi(SCREEN), r0, r6
        movea lo(SCREEN), r6, r6
        movea (tiles_end - tiles), r0, r7
copy:   ld.b 0[r8], r9
        st.b r9, 0[r6]
        add 1, r6
        add -1, r7
        bnz @copy
        halt
tiles:  incbin. "tiles.bin"
tiles_end:
        align. 16
        assert. (code_end - start <= ROMSIZE - 48), "code runs into the vectors"
code_end:
        org. (ROMSIZE - 48)
vectors:
irp. v, start, start, copy
        vector \v
endr.
        assert. (. - vectors == 48), "three vectors of 16 bytes"
        assert. (. - start == ROMSIZE)
