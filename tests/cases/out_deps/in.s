inc. "my lib$.s"
inc. "my lib$.s"
