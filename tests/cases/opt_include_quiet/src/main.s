; Includes found beside the including file and in --include-dir; --define
; before the first line; --quiet keeps errors, warnings and pass lines.
        mov LIMIT, $1
        inc. "part/a.s"
        inc. "lib.s"
        inc. "missing.s"
        inc. "unclosed.s
