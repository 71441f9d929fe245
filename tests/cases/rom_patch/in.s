; A patch: only the changes are written over the image (--patch).
org. 0x4
area. 6                         ; fits: exactly 6 bytes of room
        mov     3, $7
        movea   0x100, $0, $8
endarea.
org. 0x10
area. 8, 0                      ; the room left over becomes zeros
lb. text
        ds.     "HI!"
endarea.
org. 0xa                        ; backwards: patches touch places in any order
        jr      @fixed          ; a forward reference over the jump back
org. 0x3c
area. 2                         ; too small: 2 bytes over
lb. fixed
        movhi   1, $0, $9
endarea.
org. 0x42                       ; past the end: the gap is 0xFF
        db.     0x55
org. 0x80                       ; nothing written after it: no longer image
