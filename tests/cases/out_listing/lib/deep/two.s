lb. print
        dw. (done)
