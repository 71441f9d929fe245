reti
halt
reti 5
