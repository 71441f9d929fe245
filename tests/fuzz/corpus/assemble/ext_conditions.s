; Conditional assembly: one source, two boards; the messages of unbalanced
; and unknown conditions.
if. (BOARD == 1)
        db. 0x11
elif. (BOARD == 2)
        db. 0x22
  ifdef. DEBUG
        db. 0xDD
  else.
        db. 0xEE
  endif.
else.
        db. 0x33
endif.
ifndef. DEBUG
        db. 0x44
endif.
if. 0
  if. this is never read
  endif.
  nonsense that is skipped
elif. 1
        db. 0x55
elif. 1
        db. 0x66                ; one branch at most
endif.
if. LATER                       ; not known yet: false
        db. 0x77
endif.
lb. LATER
if. (1, 2)                      ; malformed: false
        db. 0x88
endif.
else.
endif.
if. 1
else.
else.
endif.
macro. self                     ; a macro that calls itself stops 256 deep
        self
endm.
        self
if. 1
