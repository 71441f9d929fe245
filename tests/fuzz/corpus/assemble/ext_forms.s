; Expressions, hi()/lo(), the system-register and condition names, the
; aliases and the Virtual Boy instructions.
df. BIG 0x12348000
df. SUM (BIG+0x10)
        movhi hi(BIG), $0, $6       ; bit 15 of the low half is set: 0x1235
        movea lo(BIG), $6, $6       ; 0x8000
        movhi hi(0x12347FFF), $0, $7 ; 0x1234
        .mov32 SUM, $8              ; a name whose value is an expression
        .mov32 (BIG>>16), $9
        dw. (1+2*3), ((1+2)*3), (-7/2), (-7%2), (1<<31>>31), (~0^0xF0&0xFF|1)
        dh. (SUM-BIG), lo(-1)
        db. (5), (0x100-1)
        mov (1+2), $1               ; classic reading first: 1+2 is 1
        mov 1+2, $1
        add (-16), $2
        dw. (1/0)
        mov (3*), $1
        dw. (08)
        ldsr psw, $6
        ldsr $6, PSW
        stsr eipc, $1
        stsr eipsw, $1
        stsr fepc, $1
        stsr fepsw, $1
        stsr ecr, $1
        stsr pir, $1
        stsr tkcw, $1
        stsr chcw, $1
        stsr adtre, $1
        setf v, $1
        setf c, $1
        setf l, $1
        setf z, $1
        setf e, $1
        setf nh, $1
        setf s, $1
        setf n, $1
        setf t, $1
        setf lt, $1
        setf le, $1
        setf nv, $1
        setf nc, $1
        setf nl, $1
        setf nz, $1
        setf ne, $1
        setf h, $1
        setf ns, $1
        setf p, $1
        setf f, $1
        setf ge, $1
        setf GT, $1
        cli
        sei
        xb $5
        xh $31
        rev $1, $2
        mpyhw $3, $4
        xb $5, $6
