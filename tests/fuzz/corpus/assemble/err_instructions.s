nop

; comment
foo 1
mov $1
lb. mid
movea 1, $0, $
nop
lb. after
