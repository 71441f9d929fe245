game.vb: in.s my\ lib$$.s
my\ lib$$.s:
