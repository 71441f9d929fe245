        nop
rept. 2
        nop
