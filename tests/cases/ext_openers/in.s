; An opener without its closer is reported at its own line, in its own
; file, with what it opens; an error in a macro body names the body line,
; then the call, under --gnu-errors.
macro. fetch
        dw.     (nowhere)
endm.
        fetch
inc. "m.s"
inc. "r.s"
inc. "i.s"
inc. "c.s"
rept. 2
        dh.     (nothere)
endr.
        dw.     0x5678
