tbl.bin: in.s game.tbl bad.tbl
game.tbl:
bad.tbl:
