mov $1, $2
mov 5, $2
mov -1, $2
jmp [$31]
jmp $5, $6
ldsr $5, $3
be 10
br -2
nop
jr -4
jal 0x100
movea 0x1234, $0, $5
movhi 0xFFFF, $0, $5
ld.w 4[$3], $5
st.w $5, -2[$3]
trap 5
trap 1024
ei
ei 5
di
reti
halt
addf.s $1, $2
MOVBSU
