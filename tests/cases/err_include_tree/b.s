org. 0
