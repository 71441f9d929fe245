ds. "AB,c"
ds. ""
ds. xyz"abc"tail
ds. "a;b [x]	"
ds.
ds. 
ds. no quote here
ds. "open end
nop
