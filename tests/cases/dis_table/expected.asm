lb. L_07000000
	jr	@L_07000000	; 0x07000000 00 a8 00 00
	table.	"game.tbl"
	str.	"Hello, them!\n"	; 0x07000004 01 02 81 04 05 06 80 11 0a 0b
	db.	0x00	; 0x0700000e 00
	str.	"the あいtom"	; 0x0700000f 80 10 06 c0 a0 c0 a1 07 04 09
	table.
	str.	"ok ok!"	; 0x07000019 6f 6b 20 6f 6b 21
	db.	0xff, 0x01, 0x02, 0x03, 0x03, 0x04	; 0x0700001f ff 01 02 03 03 04
