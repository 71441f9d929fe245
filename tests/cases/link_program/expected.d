out.bin: crt.s game.s lib.s
game.s:
lib.s:
