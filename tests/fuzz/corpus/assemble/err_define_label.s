lb. start
df. ANSWER 42
df. SP $3
mov ANSWER, SP
df. X
df. X ;5
df.
lb.
lb. ;x
df. X, 5
df. [Y] [$7]
add X, Y
lb. Start
br start
