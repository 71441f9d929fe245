# a comment line; mov r1, r2 is not read
	nop # after a statement ; still a comment
	mov r1, r2 ; mov 5, r3   /* block ; # */ ; add -1, r4
/* a comment that spans
   lines */ halt
lab1: lab2:3: .byte 'a, 'b', ';, '#
	.ascii "x;#\"y\n"
	MOV R1, LP
