; A run that ends with errors leaves no object file at its name, not even
; the older one, so that make never takes it for fresh; --classic keeps
; the classic file.
        nop
        foo
        halt
