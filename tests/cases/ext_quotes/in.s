; A macro argument or irp. item that begins with a quote runs to the
; matching quote (a \" inside does not end it) and keeps its quotes;
; commas, blanks and semicolons inside do not split it.
macro. say text, tail=0
        str.    \text
        db.     \tail
endm.
        say     "a b"
        say     "x, \"y\" z", 1
        say     "semi;colon"    ; a comment after it
irp. t, "p, q", "r s"
        strz.   \t
endr.
