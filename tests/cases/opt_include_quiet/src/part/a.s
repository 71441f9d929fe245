        add 1, $2
        inc. "b.s"
