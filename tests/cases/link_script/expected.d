out.bin: start.s data.s rom.ld inc.ld
data.s:
rom.ld:
inc.ld:
