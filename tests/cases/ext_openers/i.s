irp. x, 1, 2
        nop
