; Warnings of the default language past the classic forms: each report
; that --strict makes, named by the operand as written; in a macro body
; under --gnu-errors the body line, then the call; names defined twice.
macro. put v
        add     \v, r1
endm.
        ldsr    r6, 40          ; a system register number beyond 31
        jmp     [r1], r2        ; the pair form: r2 is encoded, nothing to say
        put     99
        db.     (later)         ; cut once later is known
        bne     (odd)           ; an odd displacement once odd is known
df. LEVEL 3                     ; -D LEVEL=2 made it
set. count 0
set. count (count+1)            ; set. again is what set. is for
df. COUNT 9                     ; letter case ignored
df. Title 0
title:                          ; a label with the spelling of a df. name
set. title 5
lb. later
df. odd 3
        fill.   2, 0x1ff        ; a fill value is a data item of its width
        fill.   1, 0x12345, 2
        fill.   1, -1, 4        ; any value fits 4 bytes
        align.  4, 300
area. 2, -129
endarea.
if. 1 == 0                      ; read as 1: what follows the operand is said
endif. z
rept. 2 + 1
endr.
assert. 2 < 1
