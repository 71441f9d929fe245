        dh. 0x1234
        inc. "lib/deep/two.s"
