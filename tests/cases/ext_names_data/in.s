; A bare name in data and layout reads as (NAME); set. holds a number made
; where it stands, so a counter works in rept.; 0b and 'c' inside (...).
df. N 3
df. FOUR 4
df. END 0x20
df. BASE 0x8000
set. I 0
rept. 4
        db.     I               ; 0, 1, 2, 3
set. I (I+1)
endr.
start:  dh.     N
        dw.     start, later    ; later is defined further down
        align.  FOUR
        fill.   N, 0xEE
        org.    END
        db.     (0b101), ('A'), ('\n'), (' '), (','), ('\x41' + 1), ('\'')
        incbin. "data.bin", N, FOUR
later:  db.     I
base.   BASE
here:   dw.     (here)
