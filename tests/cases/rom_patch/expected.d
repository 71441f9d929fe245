patched.vb: in.s rom.bin
rom.bin:
