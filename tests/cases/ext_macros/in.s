; Macros with parameters, defaults, \@ labels, \() joins, nesting; repeat
; blocks; and their messages.
macro. push reg
        add -4, sp
        st.w \reg, 0[sp]
endm.
macro. delay count=3, reg=r10
        movea \count, r0, \reg
w\@:    add -1, \reg
        bne @w\@
endm.
macro. save2 a, b
        push \a
        push \b
endm.
macro. ldw_at base, off, o
        ld.w \off[\base], r6    ; \offset: the longest name that matches
        ds. "\base\()\o!"         ; inside strings too; \() joins
        db. \o\()0, \q
endm.
macro. fail
        error. "inside"
endm.
macro. calls_fail
        fail
endm.
        PUSH r6                 ; letter case of a name is ignored
        delay
        delay 10, r11
        save2 r1, lp
        ldw_at sp, 8, 1
        delay 1, r2, r3         ; one argument too many
rept. 2
irp. r, r20, r21
        mov 0, \r
endr.
endr.
rept. 0
        halt                    ; never
endr.
rept. (1000 * 1000 + 1)
        nop
endr.
        calls_fail
macro. check v
        assert. (\v > 0), "positive"
endm.
        check   (later)         ; known later: the body line, then the call
df. later 0
macro. nop
endm.
macro. delay
endm.
macro. r5
endm.
macro. grow x                   ; the argument doubles until a line passes 1 MiB
        grow \x\x
endm.
        grow ab
macro. open
        nop
