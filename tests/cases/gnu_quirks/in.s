# What GNU as takes with a warning or in silence.
	setf	29, r1		# cut to 4 bits: 13
	ldsr	r1, 40		# cut to 5 bits: 8
	stsr	31, r2		# any number up to 31
	ld.h	2[gp]], r10	# a second ] passes
	jmp	[lp]]
	cli			# GNU's ei
	sei			# GNU's di
	notbsu			# GNU's movnbsu
