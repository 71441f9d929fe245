; Branches and jumps to labels: both edges of a branch's reach, odd
; targets, a name never defined, and forward targets filled later.
lb. low
org. 0x100
        bne @low            ; -256: the farthest back
        bne @low            ; -258: out of reach, takes no room
        br @edge            ; +254: the farthest ahead
        br @beyond          ; +256: out of reach, found when beyond is defined
        jr @(low+1)         ; odd
        jr @odd             ; odd, found when odd is defined
        jal @(low+0x10)     ; backward jal, with an expression
        be @nowhere         ; never defined
        bz @edge            ; the aliases
        bnz @edge
        bc @edge
        bnc @edge
org. 0x200
lb. edge
        jal @far            ; far ahead: no branch could reach it
lb. beyond
df. odd 0x07000301
org. 0x10000
lb. far
        jr @low
