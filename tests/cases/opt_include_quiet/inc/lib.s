lb. libstart
        jmp [$31]
