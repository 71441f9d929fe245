; align., fill. and base.: fills show like org.'s, base. moves the address
; that labels, '.', @ targets and .call's link use, and org. stays an image
; location.
        db.     1
        align.  4               ; FF FF FF
        align.  4               ; nothing
        align.  8, 0x00
        fill.   2, 0x0102, 2
        fill.   3, 7
        fill.   1, 0x11223344, 4
        fill.   0
        align.  3               ; not a power of two
        align.  0x2000000       ; beyond the image
        fill.   1, 0, 3         ; no such size
        fill.   -1
        base.   (later)         ; needs its value at once
lb. before
base. 0x8000
here:   dw.     (.), (here)
        jr      @here
        .call   (here)
org. 0x40
there:  dw.     (there)
