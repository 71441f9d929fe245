output.obj: in.s gfx/tiles.bin
gfx/tiles.bin:
