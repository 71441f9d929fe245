; strcpy: copies the zero-terminated string at [$6] to [$7].
; Changes $6, $7 and $8; returns through $31.
lb. greeting
        incbin. "greeting.txt"  ; the text as bytes, searched beside this file
        db. 0, 0            ; terminator, and a pad to keep code halfword-aligned
lb. strcpy
        ld.b    0[$6], $8
        st.b    $8, 0[$7]
        add     1, $6
        add     1, $7
        cmp     0, $8
        bne     @strcpy     ; next byte while the last was not zero
        jmp     [$31]
