out.bin: in.s part.s
part.s:
