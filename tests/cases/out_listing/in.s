; Listing, symbol file and dependencies together: an include two levels
; deep, data longer than 8 and than 64 bytes, an org. gap, an error line,
; forward references, equal label values and a redefined label.
        .call   (print)
        bne     @done
lb. start
lb. begin
        ds. "0123456789"
        org. 0x60
        ds. "A long text that runs past sixty-four bytes, so the listing stops."
        foo $1
        inc. "lib/one.s"
lb. start
lb. done
        jmp [$31]
