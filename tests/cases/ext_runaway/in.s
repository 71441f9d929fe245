; One report for one mistake: a macro that calls itself is one error, and
; the if. each call leaves open goes with the dropped calls; a block too
; long is one error for the outermost, and nothing of it is assembled;
; set. needs a value known where it stands.
macro. again n
if. 1
again \n
endm.
        again 1
rept. 3000
rept. 1000
        nop
endr.
endr.
        halt
set. X (later)
set. Y
set. Z (1/0)
lb. later
