; GNU register names, system registers as names and sr0-sr31 in either
; operand, notbsu, and NEC's reti/halt; a defined name keeps its meaning.
        mov     r0, r31
        mov     zero, fp
        add     sp, gp
        sub     tp, lp
        ld.w    -4[sp], r10
        st.w    r10, 8[gp]
        jmp     [lp]
        ldsr    r6, psw
        ldsr    psw, r6
        ldsr    sr5, r6
        stsr    r7, sr24
        stsr    CHCW, r7
        notbsu
        reti
        halt
df. sp $20
        mov     sp, r1          ; the defined name, not GNU's sp
        mov     r32, r1
        mov     r01, r1
        ldsr    sr32, r6
