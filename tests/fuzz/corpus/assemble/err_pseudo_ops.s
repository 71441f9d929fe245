lb. here
df. R $3
df. notnum abc
.jump
.jump 0x07000200
.jump later
.jump notnum
.jump ;here
.call
.call notnum
.mov32
.mov32 ;5
.mov32 nothing, $5
.mov32 R, $5
.mov32 5
.mov32 5 ;$1
.mov32 5, x
.mov32 5, R
df. $1 5
.jump here
.call here
df. $31 7
.call here
lb. later
