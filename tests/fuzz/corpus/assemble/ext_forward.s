; Forward references across an include, written to standard output (a pipe):
; the bytes wait for their names, the messages do not.
        .call (print)
        dw. (table), (print+2)
        inc. "lib/print.s"
lb. table
        dh. (count)
df. count 3
