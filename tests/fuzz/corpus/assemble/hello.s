; hello.s: copies a greeting from ROM into work RAM, then halts.
; Run from the repository root (include paths are relative to it):
;   tarvo examples/hello.s -o hello.bin
;   tarvo hello.bin -d 0x40 46     (lists the code at start into output.asm)

df. WRAM    0x05000000      ; work RAM
df. SP      $3              ; stack pointer

        br      64          ; over the library, to start at 0x40
inc. "examples/lib/strcpy.s"
org. 0x40
lb. start
        .mov32  WRAM, SP
        .mov32  greeting, $6
        .mov32  WRAM, $7
        .call   strcpy
lb. idle
        halt
        br      -2          ; back to halt after an interrupt
