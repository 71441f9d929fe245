dw. 0x12345678
dh. 0x12345
db. 65, 66
DB. 0x41
db. 300 -1
dw. 1 2 ; 3
dw. 1;x 2
dw.
dw. 1, x, 3
dh. [7] y
db. 
