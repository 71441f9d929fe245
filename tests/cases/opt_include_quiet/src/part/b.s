        bad $1
