# GCC -g output: line info and the debug sections are in no image; LEB128 data
# is written where it is loaded too.
	.file	"t.c"
	.text
.Ltext0:
	.align	1
	.global	_main
	.type	_main, @function
_main:
.LFB0:
	.file 1 "t.c"
	.loc 1 3 0
	add	-4,sp
	st.w	fp,0[sp]
	mov	sp,fp
	.loc 1 4 0
	mov	0,r10
	.loc 1 5 0
	mov	fp,sp
	ld.w	0[sp],fp
	add	4,sp
	jmp	[lp]
.LFE0:
	.size	_main, .-_main
.Letext0:
	.section	.debug_info,"",@progbits
.Ldebug_info0:
	.4byte	0x4a
	.2byte	0x2
	.4byte	.Ldebug_abbrev0
	.byte	0x4
	.uleb128 0x1
	.4byte	.LASF0
	.byte	0x1
	.4byte	.LFB0
	.4byte	.LFE0
	.sleb128 -4
	.uleb128 .LFE0-.LFB0
	.section	.debug_abbrev,"",@progbits
.Ldebug_abbrev0:
	.uleb128 0x1
	.uleb128 0x11
	.byte	0x1
	.byte	0
	.section	.debug_str,"MS",@progbits,1
.LASF0:
	.string	"GNU C 4.9"
	.section	.debug_frame,"",@progbits
.Lframe0:
	.4byte	.LECIE0-.LSCIE0
.LSCIE0:
	.4byte	0xffffffff
.LECIE0:
	.ident	"GCC: (GNU) 4.9.4"
	.data
	.uleb128 0, 127, 128, 624485
	.sleb128 -1, 63, 64, -64, -65, -123456
	.uleb128 -1
	.list
	.nolist
	.title "t"
	.sbttl "s"
	.psize 60, 120
	.eject
	.stabs "t.c",100,0,0,.Ltext0
	.stabn 68,0,3,.LFB0
	.stabd 68,0,4
	.protected _main
	.internal _main
	.loc_mark_labels 1
	.uleb128 _main - .Ltext0
