; Text through a table: the longest text that matches is taken at every
; place ("ll" over "l", "them" over "the").
table. "game.tbl"
lb. greeting
        strz.   "Hello, them!\n"
        str.    "the あい", "Hz"        ; no entry for z: nothing of "Hz" is written
        ds.     "tom"
table.                                  ; plain bytes again
        str.    "ok"
table. "bad.tbl"                        ; not taken: plain bytes stay
        str.    "ok"
table. "none.tbl"
