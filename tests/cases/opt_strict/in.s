; Every silent cut-down of the classic language, reported under --strict;
; the object file is removed because errors were reported.
        mov 16, $1          ; imm5 is signed: -16..15
        shl 31, $1          ; unsigned: fits
        shl -1, $1
        movea 0xFFFF, $0, $1 ; movea takes -32768..65535
        ori -1, $0, $1
        ld.w 0x8000[$1], $2
        be 3                ; odd displacement
        br 256
        mov $32, $1
        mov 12abc, $5x
        db. 255, -128, 256
        dh. 65535, -32769
        dw. 0xFFFFFFFF, 7up
lb. a
lb. a
df. 12 x
lb. $3
        ds. "xy"
        nop                 ; at an odd location
org. 0xFFFFFE
        dw. 0
        trap 1023
