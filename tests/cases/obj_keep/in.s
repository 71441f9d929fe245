; -Z (GNU as' option, also --keep-object) keeps the object file of a run
; with errors, under --strict too.
        nop
        add     99, r1
        foo
