nop
org. 0x07000008
lb. here
org. 8
dh. 0x12345
org. 4
org.
org. here
org. ;8
ORG. 0x10 0x20
