lb. print
        jal @table
        jmp [$31]
