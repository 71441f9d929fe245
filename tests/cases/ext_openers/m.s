macro. open a
        nop
