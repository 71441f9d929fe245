; hello.s: copies a greeting from ROM into work RAM, then halts.
;   tarvo examples/hello.s -o hello.bin
;   tarvo hello.bin -d 0 46        (lists the code into output.asm)
; The library is included at the end and called before it is defined: the
; call and the branches name their labels, and tarvo fills them in.

df. WRAM    0x05000000      ; work RAM
df. SP      $3              ; stack pointer

macro. load value, reg      ; a 32-bit value into a register
        .mov32  \value, \reg
endm.

        load    WRAM, SP
        load    (greeting), $6  ; defined in the library, further down
        load    WRAM, $7
        .call   (strcpy)
lb. idle
        halt
        br      @idle       ; back to halt after an interrupt
inc. "lib/strcpy.s"         ; found beside this file
