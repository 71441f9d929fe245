; Binary includes, escaped strings and checks.
        incbin. "gfx/tiles.bin"            ; the whole file
        incbin. "gfx/tiles.bin", 6         ; from offset 6 to the end
        incbin. "gfx/tiles.bin", 2, 3      ; three bytes from offset 2
        incbin. "gfx/tiles.bin", 8         ; offset = size: nothing
        incbin. "gfx/tiles.bin", 9         ; beyond the end
        incbin. "gfx/tiles.bin", 4, 5
        incbin. "missing.bin"
        str. "A\tB\n", "\x41\101\0", "\\\"\'"
        strz. "hi", ""
        str. "\q"                          ; a bad escape writes nothing
        ds. "raw\n"                        ; ds. keeps its bytes
        assert. (tail - head == 4), "table size"
        assert. (tail - head == 5), "table size"
        assert. (head < 0x07000000)
        assert. (nowhere)
head:   dw. 0
tail:   error. "stop here"
        warning. "only a warning"
        str. "open
