output.obj: in.s lib/one.s lib/deep/two.s
lib/one.s:
lib/deep/two.s:
