df. start 0x07000200
org. 0x100
.call start
.jump start
.JUMP start
.mov32 0x12348000, $5
.mov32 -1, $5
.mov32 start, $5
df. 12abc 99
.mov32 12abc, $5
org. 0x7FF0
.call start
