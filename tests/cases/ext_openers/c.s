ifdef. X
  if. 0
